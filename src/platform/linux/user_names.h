// Names of user ids, cached per uid so that look-ups stay out of the steady
// state of the process collector.
#ifndef VANTOREL_LINUX_USER_NAMES_H
#define VANTOREL_LINUX_USER_NAMES_H

#include <cstdint>

// The name of `uid` as valid UTF-8 (at most 63 bytes), or its decimal text
// when the id has no name. The text stays valid until the next call.
const char *user_name_of(uint32_t uid);

// Forgets every cached name.
void user_names_forget();

#endif  // VANTOREL_LINUX_USER_NAMES_H
