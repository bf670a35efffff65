#include "user_names.h"

#include <cstdio>
#include <cstring>

#include "linux_sources.h"
#include "text_utf8.h"

namespace {

// Open addressing over a power-of-two table; emptied when it gets three
// quarters full (a machine has few distinct users running processes).
const uint32_t kSlots = 1024;

struct slot {
    bool used;
    uint32_t uid;
    char name[64];
};

slot s_slots[kSlots];
uint32_t s_used = 0;
uint32_t s_generation = 0;

}  // namespace

void user_names_forget() {
    std::memset(s_slots, 0, sizeof s_slots);
    s_used = 0;
}

const char *user_name_of(uint32_t uid) {
    if (s_generation != linux_sources_generation()) {
        user_names_forget();
        s_generation = linux_sources_generation();
    }
    uint32_t i = (uid * 2654435761u) & (kSlots - 1);
    while (s_slots[i].used) {
        if (s_slots[i].uid == uid) return s_slots[i].name;
        i = (i + 1) & (kSlots - 1);
    }
    if (s_used >= kSlots / 4 * 3) {
        user_names_forget();
        i = (uid * 2654435761u) & (kSlots - 1);
    }
    slot &s = s_slots[i];
    s.used = true;
    s.uid = uid;
    char name[256];
    if (linux_sources_current().user_name(uid, name, sizeof name) == 0 && name[0] != '\0')
        utf8_set(s.name, name);
    else
        std::snprintf(s.name, sizeof s.name, "%u", uid);
    ++s_used;
    return s.name;
}
