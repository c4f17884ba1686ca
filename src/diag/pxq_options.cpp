// Pure: builds natively, no windows.h.
// PXQ syntax: options separated by ',', each "[class]+name" or "[class]-name",
// or a bare name meaning "+name"; the name "all" changes the default flags.
#include "diag/pxq_options.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t MAX_NAME = 14;

// Index of the first entry whose name is not below `name`; *found tells
// whether that entry is `name` itself.
int lower_bound(const PxqConfig *config, const char *name, bool *found) {
    int low = 0, high = config->count;
    *found = false;
    while (low < high) {
        int mid = (low + high) / 2;
        int order = strcmp(config->options[mid].name, name);
        if (order == 0) {
            *found = true;
            return mid;
        }
        if (order < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

bool grow_if_full(PxqConfig *config) {
    if (config->count < config->capacity)
        return true;
    int capacity = config->capacity ? config->capacity * 2 : 16;
    void *grown = realloc(config->options, sizeof(PxqOption) * capacity);
    if (!grown)
        return false;
    config->options = static_cast<PxqOption *>(grown);
    config->capacity = capacity;
    return true;
}

void apply_to_channel(PxqConfig *config, const char *name, unsigned char set, unsigned char clear) {
    bool found;
    int pos = lower_bound(config, name, &found);
    if (found) {
        PxqOption &entry = config->options[pos];
        entry.flags = (entry.flags & ~clear) | set;
        return;
    }
    if (!grow_if_full(config))
        return;
    memmove(&config->options[pos + 1], &config->options[pos],
            sizeof(PxqOption) * (config->count - pos));
    PxqOption &entry = config->options[pos];
    memset(&entry, 0, sizeof(entry));
    entry.flags = (config->default_flags & ~clear) | set;
    memcpy(entry.name, name, strlen(name));
    config->count++;
}

// Class bit for the text before the sign, or -1 when it names no class.
int class_mask(const char *text, size_t length) {
    int bit = 1;
    for (const char *name : CLASS_NAMES) {
        if (strlen(name) == length && !memcmp(name, text, length))
            return bit;
        bit <<= 1;
    }
    return -1;
}

void apply_option(PxqConfig *config, char *option) {
    char *sign = strpbrk(option, "+-");
    const char *name;
    unsigned char set = 0, clear = 0;
    if (!sign) {
        set = 0xFF;
        name = option;
    } else {
        unsigned char mask = 0xFF;
        if (sign > option) {
            int bits = class_mask(option, sign - option);
            if (bits < 0)
                return;
            mask = static_cast<unsigned char>(bits);
        }
        if (*sign == '+')
            set = mask;
        else
            clear = mask;
        name = sign + 1;
    }
    if (!*name)
        return;
    if (!strcmp(name, "all")) {
        config->default_flags = (config->default_flags & ~clear) | set;
        return;
    }
    if (strlen(name) > MAX_NAME)
        return;
    apply_to_channel(config, name, set, clear);
}

} // namespace

void pxq_parse(PxqConfig *config, const char *text) {
    config->count = 0;
    if (!text)
        return;
    char *copy = strdup(text);
    if (!copy)
        return;
    char *option = copy;
    for (;;) {
        char *comma = strchr(option, ',');
        if (comma)
            *comma = 0;
        apply_option(config, option);
        if (!comma)
            break;
        option = comma + 1;
    }
    free(copy);
}

const PxqOption *pxq_find(const PxqConfig *config, const char *name) {
    if (config->count <= 0)
        return nullptr;
    bool found;
    int pos = lower_bound(config, name, &found);
    return found ? &config->options[pos] : nullptr;
}
