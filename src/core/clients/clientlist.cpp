#include "clients/clientlist.h"
