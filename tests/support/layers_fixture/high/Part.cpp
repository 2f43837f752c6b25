#include "high/Part.h"
#include "high/High.h"
