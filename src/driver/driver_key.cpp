#include "driver/driver_key.h"

void InitRegKeyVars() {}
