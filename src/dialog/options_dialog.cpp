#include "entry/module.h"

// The options dialog is not built yet: the command is answered with 0.
extern "C" int32_t RunOptionsDialog(HostInData *, HostOutData *)
{
    return 0;
}
