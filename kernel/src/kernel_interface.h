// Kernel interface: version numbers.
#pragma once

#include "misc/gnss_types.h"

U32 KINTERFACE_get_major_version();
U32 KINTERFACE_get_minor_version();
U32 KINTERFACE_get_revision();
