#include "module.h"

#include <string.h>

// One definition record is cleared once and reused for all four parameters:
// each writes only its own fields, so bytes from earlier definitions carry
// over into later ones, as hosts have always seen them.
extern "C" int32_t CmdParamSetupHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    if (!HasGlobalBlock(in))
        return ReportNoGlobalBlock(in, out);
    const StringTableRef table = GetStringTableRef(in);
    HostUtilTable *utils = in->utils;
    ParamDef def;
    memset(&def, 0, sizeof def);
    const HostPixel red = {0, 255, 0, 0};

    def.paramType = kParamSlider;
    utils->copyString(def.name, in->getString(table, kStrSize));
    def.u.slider.value = 36;
    def.u.slider.text1[0] = 0;
    def.u.slider.text2[0] = 0;
    def.u.slider.min1 = 0;
    def.u.slider.max1 = 512;
    def.u.slider.min2 = 0;
    def.u.slider.max2 = 512;
    def.u.slider.dflt = 36;
    int32_t err = in->addParam(in->effectRef, -1, &def);
    if (err != 0)
        return err;

    def.paramType = kParamPoint;
    utils->copyString(def.name, in->getString(table, kStrPosition));
    def.u.point.x = 0;
    def.u.point.y = 1;
    def.u.point.flag = 0;
    def.u.point.dfltX = 50 << 16;
    def.u.point.dfltY = 50 << 16;
    err = in->addParam(in->effectRef, -1, &def);
    if (err != 0)
        return err;

    def.paramType = kParamColor;
    utils->copyString(def.name, in->getString(table, kStrTextColor));
    def.u.color.value = red;
    def.u.color.dflt = red;
    err = in->addParam(in->effectRef, -1, &def);
    if (err != 0)
        return err;

    def.name[0] = 0;
    def.u.checkbox.value = 0;
    def.u.checkbox.dflt = 0;
    def.paramType = kParamCheckbox;
    // The label stays the host's own string, valid while the table is open.
    def.u.checkbox.label = in->getString(table, kStrComposite);
    err = in->addParam(in->effectRef, -1, &def);
    if (err == 0)
        out->numParams = 5;
    return err;
}
