#include "streaminfo/bs.h"
