#include "app/FormInfo.h"
