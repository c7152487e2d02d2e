#include "mail/mailman.h"
