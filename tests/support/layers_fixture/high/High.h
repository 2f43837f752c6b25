#pragma once
#include "high/Part.h"
#include "low/Low.h"
