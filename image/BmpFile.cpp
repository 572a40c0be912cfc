#include "image/Bitmap.h"
