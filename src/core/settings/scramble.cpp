#include "settings/scramble.h"
