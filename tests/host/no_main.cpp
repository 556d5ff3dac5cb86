// A well-formed shared object that is not an effect module.
extern "C" __attribute__((visibility("default"))) int NotAnEffect(int x)
{
    return x + 1;
}
