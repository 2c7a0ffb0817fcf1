#include "run/seams.h"

bridge_seams seams = {};
