// Pure: builds natively, no windows.h.
#include "imaging/page_placement.h"

namespace {

bool within_slack(int64_t size, int64_t page) {
    int64_t difference = size - page;
    return difference >= -PAGE_SIZE_SLACK && difference <= PAGE_SIZE_SLACK;
}

} // namespace

PagePlacement choose_placement(uint32_t scale, int32_t width, uint32_t rows,
                               const PageMetrics &metrics) {
    if (scale == 0)
        return PagePlacement::AS_IS;
    if (within_slack(width, metrics.physical_width) && within_slack(rows, metrics.physical_height))
        return PagePlacement::PAGE_SIZE;
    return PagePlacement::FIT;
}
