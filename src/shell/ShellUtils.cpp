#include "shell/ShellUtils.h"
