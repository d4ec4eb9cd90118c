#include "shell/ShellBrowseForFolder.h"
