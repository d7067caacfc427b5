// The link half fed by the sky core.
#include "tools/sky/sky_link.h"

SKY_LINK_SOURCE_T SKY_LINK_core_source() {
  SKY_LINK_SOURCE_T s;
  s.epoch_at_clock = SKY_epoch_at_clock;
  s.nav_word = SKY_nav_word;
  return s;
}
