#pragma once
#include "pkg/a/A.h"
