#include "app/FormProperties.h"
