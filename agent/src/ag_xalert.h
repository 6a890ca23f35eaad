/* The alert record of the agent messaging layer. The process layer carries one in its fork block
 * and copies it whole without reading it; its fields belong to the messaging layer. Until they
 * are laid out it is a record of AG_XALERT_DATA_SIZE opaque bytes. */
#ifndef AG_XALERT_H
#define AG_XALERT_H

#define AG_XALERT_DATA_SIZE 4096

typedef struct AG_XALERT_DATA {
    unsigned char record[AG_XALERT_DATA_SIZE];
} AG_XALERT_DATA;

#endif
