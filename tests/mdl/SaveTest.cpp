#include "mdl/MDLClass.h"
