/* The host facts daz.h is about to declare; see host_facts_shim.c. */
#ifndef DAZ_HOST_FACTS_SHIM_H
#define DAZ_HOST_FACTS_SHIM_H

#include <daz/daz.h>

enum { DAZ_KEY_TEXT_SIZE = 5 };
int daz_rows_present(const daz_info* info, uint64_t file_size, uint32_t* rows);
int daz_display_palette(const daz_info* info, int highest_index, uint8_t* palette, int* entries);
int daz_key_to_text(uint16_t key, char* text, size_t size);

#endif
