#include "shell/SHChangeNotify.h"
