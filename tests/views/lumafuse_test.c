/* A fusion routine for the tests: a known function of its three arguments, so a test can tell
   that every pixel went through it with the right base, overlay and weight. */
#include <stdint.h>

uint32_t FUSION(uint32_t base, uint32_t overlay, uint32_t weight) {
    return base ^ overlay ^ (weight * 0x01010101u);
}
