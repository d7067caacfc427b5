// Platform models: one constant row per model, the active row kept.
#include "kernel/src/nav_model.h"

#include <array>

#include "kernel/src/settings.h"

namespace {

struct NVMODEL_ROW_T {
  F32 sp_pv;             // PV-model acceleration noise density
  F32 static_speed_thr;  // m/s
  F32 max_altitude;      // m
  F32 max_speed;         // m/s
  F32 max_v_speed;       // m/s
  U16 cn0_thr;           // dB-Hz
  S16 can_do_2D;         // 1/0
};

constexpr std::array<NVMODEL_ROW_T, 6> MODEL_TABLE = {{
    {1.0F, 0.4167F, 19000.0F, 500.0F, 50.0F, 0, 1},       // NMODEL_DEFAULT
    {0.49F, 0.2778F, 9000.0F, 27.7778F, 16.6667F, 0, 1},  // PEDESTRIAN
    {1.0F, 0.4167F, 6000.0F, 83.3333F, 16.6667F, 0, 1},   // CAR
    {0.25F, 0.1389F, 100.0F, 25.0F, 5.0F, 25, 1},         // MARINE
    {4.0F, 0.06945F, 50000.0F, 500.0F, 100.0F, 20, 0},    // BALLOON
    {9.0F, 0.2778F, 50000.0F, 1000.0F, 100.0F, 25, 0},    // AIRBORNE
}};

S16 Nav_model = NMODEL_DEFAULT;
NVMODEL_ROW_T Row = MODEL_TABLE[0];

void load_row(S16 model) {
  Row = (model >= 0 && model < static_cast<S16>(MODEL_TABLE.size())) ? MODEL_TABLE[static_cast<std::size_t>(model)]
                                                                     : MODEL_TABLE[0];
}

}  // namespace

void NVMODEL_init() {
  Nav_model = static_cast<S16>(SETTINGS_get_user_navigation_model());
  load_row(Nav_model);
}

void NVMODEL_set_model(S16 model) {
  if (model == Nav_model) return;
  Nav_model = model;
  if (model >= 0 && model < static_cast<S16>(MODEL_TABLE.size()))
    (void)SETTINGS_set_user_navigation_model(static_cast<U08>(model));
  load_row(model);
}

S16 NVMODEL_get_model() { return Nav_model; }
F32 NVMODEL_get_kalman_filter_Sp_pv() { return Row.sp_pv; }
F32 NVMODEL_get_static_threshold() { return Row.static_speed_thr; }
F32 NVMODEL_get_max_altitude() { return Row.max_altitude; }
F32 NVMODEL_get_max_speed() { return Row.max_speed; }
F32 NVMODEL_get_max_vertical_speed() { return Row.max_v_speed; }
U16 NVMODEL_get_CN0_threshold() { return Row.cn0_thr; }
S16 NVMODEL_can_do_2D_fix() { return Row.can_do_2D; }
