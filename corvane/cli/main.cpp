// quillomark: renders Quillomark text into images from the command line.
#include "commands.h"
#include "interrupt.h"
#include "suggest.h"

#include <CLI/CLI.hpp>

#include <malloc.h>

#include <iostream>
#include <optional>

using namespace quillomark;

// Reading the system's font configuration loses a few bytes inside
// fontconfig's own parser, out of this program's reach; the leak checker of
// sanitizer builds would otherwise fail every run. Writing HEIF, the HEVC
// encoder under OpenImageIO keeps two blocks from its own allocator (about
// 2 KiB, once per process) that no call of ours can free.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:x265::x265_malloc\n";
}
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}

namespace {

const char *kRenderFooter = R"(Examples:
  quillomark render "Hello" -o hello.png
  quillomark render "Title\nSubtitle" --font "Liberation Serif" --bold --align center \
      --size 72 --color white --composite --input plate.png -o title.png
  quillomark render "Moving" --align center --composite --plate 1920x1080 \
      --position-key 1=10%,50% --position-key 48=90%,50% --size-key 1=36 --size-key 48=96 \
      -o shot/moving.%04d.png
  quillomark render --project shot.json --frames 101-200 --progress=plain -o farm/shot.%04d.png
  quillomark render --project shot.json --layer 2 --text-file title.txt --save-project shot.json
  quillomark render "Title" --composite --input plate.####.exr -o comp/shot.####.exr --skip-existing
  quillomark render "Title" --composite --input clip.mov -o titled.mp4

Text: "\n" starts a new line, "\\" is a backslash; a --text-file is taken as it
is, its line breaks as line breaks. Positions are pixels of the full-size plate,
or percentages ("50%,50%" is the centre, the default).
The position anchors the block: with left alignment its left edge, with center
its middle, with right its right edge, and vertically always its middle. Draft
quality puts that anchor on the nearest whole pixel (halves go right and down);
high quality keeps its fraction.
Keyframes are FRAME=VALUE; between keys values move linearly.
With --project, the text, style and parameter options change the project's last
layer (or --layer N); --add-layer draws a new layer over them instead, which
composites as the layer below it does unless told otherwise.
)";

// Adds --NAME and --no-NAME, the second only to undo the first on a
// project's layer, so it stays out of the help.
void addSwitch(CLI::App *app, const std::string &name, std::optional<bool> &target, const std::string &help)
{
    app->add_flag_callback(
        "--" + name, [&target] { target = true; }, help);
    app->add_flag_callback("--no-" + name, [&target] { target = false; })->group("");
}

// Every name an option of `app` answers to.
std::vector<std::string> optionNames(const CLI::App &app)
{
    std::vector<std::string> names;
    for (const CLI::Option *opt : app.get_options()) {
        for (const auto &n : opt->get_lnames())
            names.push_back("--" + n);
        for (const auto &n : opt->get_snames())
            names.push_back("-" + n);
    }
    return names;
}

// "did you mean" for the words the parser did not take; false when none
// is near enough to a name it knows.
bool suggest(const CLI::App &app, const CLI::App *sub)
{
    std::vector<std::string> commands;
    for (const CLI::App *s : app.get_subcommands([](const CLI::App *) { return true; }))
        commands.push_back(s->get_name());
    bool any = false;
    for (const std::string &word : app.remaining()) {
        const bool option = word.size() > 1 && word[0] == '-';
        const std::string name = option ? word.substr(0, word.find('=')) : word;
        const std::string hint = option ? didYouMean(name, optionNames(sub ? *sub : app))
                                 : sub  ? std::string()
                                        : didYouMean(name, commands);
        if (hint.empty())
            continue;
        std::cerr << "quillomark: unknown " << (option ? "option" : "command") << " \"" << name << "\"" << hint << "\n";
        any = true;
    }
    return any;
}

} // namespace

int main(int argc, char **argv)
{
    // A sequence allocates and frees frame-sized buffers every frame: kept in
    // the heap, they are reused instead of mapped and faulted in anew each
    // time. The frames held at once are bounded, and so is the heap.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    installInterruptHandler();
    CLI::App app{"quillomark: Quillomark text, rendered into images by the module itself"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "quillomark 1.0");
    std::string module = defaultModulePath();
    app.add_option("--module", module, "The effect module to load (default: the one beside this program)")
        ->type_name("FILE");

    RenderOptions r;
    CLI::App *render = app.add_subcommand("render", "Render text into an image or an image sequence");
    render->fallthrough();
    render->footer(kRenderFooter);
    render->add_option("text", r.text, "The text; \\n starts a new line");
    render->add_option("--text", r.textOption, "The text, as an option")->type_name("TEXT");
    render->add_option("--text-file", r.textFile, "The text from a UTF-8 file; its line breaks start new lines")
        ->type_name("FILE");
    render->add_option("--font", r.font, "Font family (see `quillomark fonts`)")->type_name("NAME");
    addSwitch(render, "bold", r.bold, "Bold (--no-bold undoes it on a project's layer; likewise the others)");
    addSwitch(render, "italic", r.italic, "Italic");
    addSwitch(render, "underline", r.underline, "Underline");
    addSwitch(render, "outline", r.outline, "Outline (hollow letters)");
    render
        ->add_option("--align", r.align, "left (default), center or right: the side of the block the position anchors")
        ->type_name("SIDE");
    render->add_option("--size", r.size, "Point size, one point per pixel (default 36)")->type_name("N");
    render
        ->add_option("--position", r.position,
                     "Anchor of the block: pixels or percentages (default 50%,50%); see below for the anchor")
        ->type_name("X,Y");
    render->add_option("--color,--colour", r.colour, "Text colour: #RRGGBB or a name (default red)")
        ->type_name("COLOUR");
    render->add_option("--size-key", r.sizeKeys, "Size keyframe (repeat)")
        ->type_name("FRAME=N")
        ->allow_extra_args(false);
    render->add_option("--position-key", r.positionKeys, "Position keyframe (repeat)")
        ->type_name("FRAME=X,Y")
        ->allow_extra_args(false);
    render->add_option("--color-key,--colour-key", r.colourKeys, "Colour keyframe (repeat)")
        ->type_name("FRAME=COLOUR")
        ->allow_extra_args(false);
    addSwitch(render, "composite", r.composite, "Draw over the plate instead of on transparent black");
    render->add_flag("--draft", r.draft, "Draft quality: aliased, fast");
    render->add_flag("--high-quality", r.highQuality, "High quality: anti-aliased (the default)");
    render->add_option("--downsample", r.downsample, "Proxy render at N/D of full size, e.g. 1/2 or 1/2,1/4")
        ->type_name("RATIO");
    render
        ->add_option("--input,-i", r.input,
                     "Plate to draw over: an image, a numbered sequence (plate.%04d.exr, plate.####.exr, "
                     "plate.$F4.exr, plate.@@@@.exr) or a video clip (.mov, .mp4, .mkv)")
        ->type_name("FILE");
    render->add_option("--missing", r.missing, "A sequence's missing frame: error (default), hold or black")
        ->type_name("WHAT");
    render->add_flag("--timecode", r.timecode, "Number a clip's frames from its start timecode (default: from 1)");
    render->add_option("--plate", r.plate, "Generated plate size (default 1280x720)")->type_name("WxH");
    render->add_option("--plate-color,--plate-colour", r.plateColour, "Generated plate colour")->type_name("COLOUR");
    render->add_option("--plate-gradient", r.plateGradient, "Generated plate, a vertical gradient")
        ->type_name("TOP,BOTTOM");
    render->add_option("--frames", r.frames, "Frames to render, or one frame (default: the keyframes')")
        ->type_name("FIRST-LAST");
    render
        ->add_option("-o,--output", r.output,
                     "Output image; a sequence names its frame number (out.%04d.png, out.####.png); a video file "
                     "(.mp4, .mov, .mkv) holds every frame and the input clip's sound")
        ->type_name("FILE");
    render->add_flag("--skip-existing", r.skipExisting, "Leave frames already written alone (resumes a killed job)");
    render->add_option("--fps", r.fps, "A video file's frame rate (default: the input clip's, else 24)")
        ->type_name("RATE");
    render
        ->add_option("--codec", r.codec,
                     "A video file's encoder (default: libx264, or prores_ks for .mov and .mkv text with alpha)")
        ->type_name("NAME");
    render->add_option("--crf", r.crf, "Constant quality, 0 (lossless) to 51 for H.264 (default 18)")->type_name("N");
    render->add_option("--bitrate", r.bitrate, "A video file's bitrate instead, e.g. 8M")->type_name("RATE");
    render->add_option("--depth", r.depth, "Output pixels: 8, 16, half or float (default: the plate's)")
        ->type_name("TYPE");
    render->add_option("--alpha", r.alpha, "Output alpha: straight or premultiplied (default: the format's)")
        ->type_name("MODE");
    render
        ->add_option("--colorspace,--colourspace", r.colourSpace,
                     "Output colour space, e.g. sRGB or linear (default: the format's; EXR is linear)")
        ->type_name("NAME");
    render
        ->add_option("--compression", r.compression,
                     "PNG, TIFF and EXR zlib level, 0 (none) to 9 (smallest, slowest); default: fast (PNG: level 3, "
                     "unfiltered)")
        ->type_name("N");
    render->add_option("--threads", r.threads, "Threads for rendering and for writing files (default 0: every core)")
        ->type_name("N");
    render->add_flag("--force", r.force, "Replace output files even when they are write-protected");
    render->add_option("--project", r.project, "Load a project file")->type_name("FILE");
    render->add_option("--layer", r.layer, "The project's layer the options change, from 1 (default: the last)")
        ->type_name("N");
    render->add_flag("--add-layer", r.addLayer, "The options make a new layer over the project's");
    render->add_option("--save-project", r.saveProject, "Save the project to a file")->type_name("FILE");
    render->add_flag("--progress{bar}", r.progress,
                     "Show the progress bar even when stderr is not a terminal; --progress=plain: a line per frame "
                     "with the time so far and to go, for logs");
    render->add_flag("-q,--quiet", r.quiet, "Print nothing but errors");

    std::string demoOutput = "out/demo.png";
    bool demoQuiet = false;
    CLI::App *demo = app.add_subcommand("demo", "Render the demo frame and print where it went");
    demo->fallthrough();
    demo->add_option("-o,--output", demoOutput, "Where to write it (default out/demo.png)");
    demo->add_flag("-q,--quiet", demoQuiet, "Print nothing but errors");

    CLI::App *info = app.add_subcommand("info", "Show the module's registration and parameters");
    info->fallthrough();
    CLI::App *fonts = app.add_subcommand("fonts", "List the fonts the options dialog offers");
    fonts->fallthrough();
    CLI::App *colours = app.add_subcommand("colors", "List the colour names");
    colours->alias("colours");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const CLI::App *sub = *render ? render : *demo ? demo : *info ? info : *fonts ? fonts : nullptr;
        if (e.get_exit_code() != 0 && suggest(app, sub)) {
            std::cerr << "Run with --help for more information.\n";
            return kExitUsage;
        }
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }

    if (*render)
        return runRender(module, r);
    if (*demo)
        return runDemo(module, demoOutput, demoQuiet);
    if (*info)
        return runInfo(module);
    if (*fonts)
        return runFonts(module);
    return runColours();
}
