#include "shell/ItemProp.h"
