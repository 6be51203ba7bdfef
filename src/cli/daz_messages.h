/* daz_messages.h - the commands' own lines for reading a daz image, for the
 * project's C programs (daz-thumbnailer), so that no program keeps a copy.
 * C and C++; defined with the commands' other texts in texts.cpp. */
#ifndef ORVX_CLI_DAZ_MESSAGES_H
#define ORVX_CLI_DAZ_MESSAGES_H

#ifdef __cplusplus
extern "C" {
#endif

/* The line dazbmp and dazpng print for a daz_error met on the way back from
 * a daz image (the input, the image's faults, the output), or NULL for one
 * whose line is each program's own (DAZ_ERR_LIMITS: too big for what it
 * writes) or that they never meet. */
const char* orvx_daz_message(int error);

/* The failure line: takes the message. */
const char* orvx_error_line_format(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVX_CLI_DAZ_MESSAGES_H */
