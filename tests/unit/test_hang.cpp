#include "unit.h"
