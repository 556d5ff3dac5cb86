// Parameter registration: each definition the module adds is kept byte for
// byte and decoded into a typed Parameter.
#include "host_impl.h"

#include <cstring>

namespace corvane {
namespace {

constexpr int32_t kParamErr = -50;

std::string boundedString(const char *s, size_t max)
{
    return s ? std::string(s, strnlen(s, max)) : std::string();
}

int32_t addParam(EffectRef ref, int32_t index, ParamDef *def)
{
    Host::Impl *impl = implFrom(ref);
    if (!impl)
        return kParamErr;
    if (const auto *f = impl->hit(Service::AddParam))
        return f->error;
    if (!def) {
        impl->misuse("addParam: no definition");
        return kParamErr;
    }
    if (index != -1) {
        impl->misuse("addParam: index " + std::to_string(index) + " (only -1, append, is supported)");
        return kParamErr;
    }
    Parameter p;
    p.index = static_cast<int32_t>(impl->params.size()) + 1;
    p.type = def->paramType;
    std::memcpy(&p.registered, def, sizeof p.registered);
    p.name = boundedString(def->name, sizeof def->name);
    switch (def->paramType) {
    case kParamSlider:
        p.sliderMin = def->u.slider.min1;
        p.sliderMax = def->u.slider.max1;
        p.sliderMin2 = def->u.slider.min2;
        p.sliderMax2 = def->u.slider.max2;
        p.sliderDefault = def->u.slider.dflt;
        break;
    case kParamPoint:
        p.defaultX = def->u.point.dfltX;
        p.defaultY = def->u.point.dfltY;
        break;
    case kParamColor:
        p.defaultColour = def->u.color.dflt;
        break;
    case kParamCheckbox:
        p.defaultOn = def->u.checkbox.dflt != 0;
        p.labelAddress = def->u.checkbox.label;
        p.label = boundedString(def->u.checkbox.label, 255);
        if (p.name.empty())
            p.name = p.label;
        break;
    default:
        impl->misuse("addParam: unknown parameter type " + std::to_string(def->paramType));
        return kParamErr;
    }
    try {
        impl->params.push_back(std::move(p));
    } catch (...) {
        return -108;
    }
    return 0;
}

} // namespace

void installParamServices(HostInData &in)
{
    in.addParam = addParam;
}

} // namespace corvane
