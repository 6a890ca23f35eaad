/* The record of one concurrent-program parameter (BE_DUZ_report_parm) that submission, the
 * parameter lists and the parameter-definition code share, and its initialisation. */
#include "be_def.h"

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_init_report_parm(BE_DUZ_report_parm* parm_rec) {
    if (parm_rec == nullptr) return 0;
    parm_rec->parm_name[0] = '\0';
    parm_rec->parm_display[0] = '\0';
    parm_rec->parm_type[0] = '\0';
    parm_rec->required[0] = '\0';
    parm_rec->value_set_name[0] = '\0';
    parm_rec->value_set_type[0] = '\0';
    parm_rec->value_set_id = 0;
    parm_rec->seq_number = 0;
    parm_rec->dft_value[0] = '\0';
    parm_rec->formatype[0] = '\0';
    parm_rec->report_value[0] = '\0';
    /* report_meaning and displayed keep what they hold. */
    parm_rec->value[0] = '\0';
    parm_rec->maxsize = 0;
    parm_rec->uppercase[0] = '\0';
    parm_rec->sharedparm_name[0] = '\0';
    ZPALIST_init(&parm_rec->list);
    return 0;
}

CM_EXTERN_C_END
