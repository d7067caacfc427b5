// Almanac store.
#pragma once

#include "misc/gnss_types.h"

// Size in bytes of the almanac store; its address goes to *addr.
S32 ALM_get_address(U08** addr);
