// Operations shared between the navigation driver's source files
// (kernel/src/navigate*.cpp); not part of the module's interface.
#pragma once

#include "kernel/src/kernel_handles.h"
#include "kernel/src/kernel_types.h"
#include "kernel/src/nav_estimation_inputs.h"
#include "kernel/src/navigate.h"
#include "kernel/src/settings.h"
#include "misc/gnss_types.h"

const DOP_MASK_T& NVI_dop_mask();
const ELV_CNR_MASK_T& NVI_elv_cnr_mask();
S16 NVI_least_square_only();
NV_BAD_MEAS_CHECK_CALLBACK_T NVI_bad_meas_check();
NV_MULTIPATH_CALLBACK_T NVI_multipath();
// Position-fix fault check of the working state (3-D solution or not, inputs
// used); handles the fault as the driver does. true when there was a fault.
bool NVI_fault_check_and_handle(bool is_3D, S16 n_inputs);
void NVI_update_DOPs(const F32 (*q)[4]);  // q: 4 x 4 east, north, up, clock; null = unknown
void NVI_update_show_DOPs();
bool NVI_check_show_DOP_mask(S16 show_sats);  // true when passed
void NVI_set_no_fix_by_dop_mask();
void NVI_clear_channel_flags();
void NVI_set_used_channels(S16 n, const NV_ESTIN_T* list, U08 bits);
S16 NVI_count_show_used(S16 n, const NV_ESTIN_T* list);
void NVI_mark_sbas_channels();
void NVI_apply_fix_states(S16 gtc_wn, D64 gtc_sec);
bool NVI_near_init_position(D64 limit_m);
void NVI_finish_fix(S16 n, const NV_ESTIN_T* list);
bool NVI_working_state_finite();
// The position fix of an epoch after the first fix (kernel/src/navigate_fix.cpp).
void NVI_calculate_position_fix(S16 n, RNG_T* rngs, S16 gtc_wn, D64 gtc_sec);
