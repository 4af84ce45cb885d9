#include "probes/netscan.h"
