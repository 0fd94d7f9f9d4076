// vrkfont: the library's exports from the command line, called and freed the
// way the application calls them.
#include "vrkfont/VRKFont.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "helper/JsonHelper.h"
#include "helper/WindowsHelper.h"
#include "platform/Env.h"

namespace {

using Args = std::vector<std::string>;

struct Command {
  const char* usage;
  const char* help;
  std::function<int(const Args&)> run;
};

// Heap copies are the caller's to free; the shared empty string is not.
std::string Take(char* text) {
  std::string copy = text != nullptr ? text : "";
  if (text != nullptr && text[0] != '\0') std::free(text);
  return copy;
}

int Print(const std::string& text, bool ok) {
  std::printf("%s\n", text.c_str());
  return ok ? 0 : 1;
}

// Options "--name value"; what is left are positional arguments.
struct Options {
  std::map<std::string, std::string> named;
  Args positional;
  bool help = false;

  const char* Get(const std::string& name) const {
    auto it = named.find(name);
    return it == named.end() ? nullptr : it->second.c_str();
  }
};

bool Parse(const Args& args, const std::vector<std::string>& names, Options& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      out.help = true;
    } else if (a.rfind("--", 0) == 0) {
      std::string name = a.substr(2);
      bool known = false;
      for (const auto& n : names) known = known || n == name;
      if (!known || i + 1 >= args.size()) {
        std::fprintf(stderr, "vrkfont: unknown option or missing value: %s\n", a.c_str());
        return false;
      }
      out.named[name] = args[++i];
    } else {
      out.positional.push_back(a);
    }
  }
  return true;
}

std::string JsonArrayOf(const Args& paths) {
  vrk::Json array = vrk::Json::array();
  for (const auto& p : paths) array.push_back(p);
  return array.dump();
}

bool AllFlagsSet(const std::string& flags) {
  if (flags.empty()) return false;
  std::string rest = flags;
  size_t pos;
  while ((pos = rest.find("|-|")) != std::string::npos) {
    if (rest.substr(0, pos) != "1") return false;
    rest = rest.substr(pos + 3);
  }
  return rest == "1";
}

bool EnvelopeSucceeded(const std::string& json) {
  auto value = vrk::JsonHelper::jsonToObject(json);
  return value && value->is_object() && value->value("code", "") == "1";
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"app-name",
       {"app-name [NAME]", "Sets the caller's name when NAME is given, then prints it.",
        [](const Args& a) {
          if (!a.empty()) SetAppName(a[0].c_str());
          return Print(Take(GetAppName()), true);
        }}},
      {"fonts",
       {"fonts",
        "Lists every available font as JSON records (path, postscriptName, family, style).",
        [](const Args&) {
          std::string list = Take(GetAvailableFonts());
          return Print(list, !list.empty());
        }}},
      {"find",
       {"find [--ps NAME] [--family NAME]",
        "Resolves a font by PostScript and/or family name; prints family|-|path.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"ps", "family"}, o)) return 2;
          std::string pair = Take(FindFont(o.Get("ps"), o.Get("family")));
          return Print(pair, !pair.empty() && pair.rfind("(null)|-|", 0) != 0);
        }}},
      {"register",
       {"register FILE...", "Activates font files for the login session; prints one flag per file.",
        [](const Args& a) {
          std::string flags = Take(RegisterFont(JsonArrayOf(a).c_str()));
          return Print(flags, AllFlagsSet(flags));
        }}},
      {"unregister",
       {"unregister FILE...", "Deactivates font files; prints one flag per file.",
        [](const Args& a) {
          std::string flags = Take(UnRegisterFont(JsonArrayOf(a).c_str()));
          return Print(flags, AllFlagsSet(flags));
        }}},
      {"is-registered",
       {"is-registered [--path FILE] [--ps NAME] [--family NAME]",
        "Tells whether a font file is active, or whether a font of that name is available.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"path", "ps", "family"}, o)) return 2;
          bool yes = FontIsRegistered(o.Get("path"), o.Get("ps"), o.Get("family"));
          return Print(yes ? "1" : "0", yes);
        }}},
      {"frontmost",
       {"frontmost [--app-name NAME]",
        "Prints the supported application with the frontmost window (host detection).",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"app-name"}, o)) return 2;
          if (o.Get("app-name")) SetAppName(o.Get("app-name"));
          vrk::Json result = vrk::WindowsHelper::EnumWindows();
          return Print(vrk::JsonHelper::Encode(result), result.value("choseAppName", "") != "");
        }}},
      {"windows",
       {"windows [--all]", "Lists the on-screen windows front to back (or all) with owner names.",
        [](const Args& a) {
          bool all = !a.empty() && a[0] == "--all";
          auto& list = vrk::platform::Env::Get().Windows();
          auto windows = all ? list.AllWindows() : list.OnScreenWindows();
          for (const auto& w : windows) std::printf("%s\n", w.ownerName.value_or("(none)").c_str());
          return 0;
        }}},
      {"is-installed",
       {"is-installed ID", "Tells whether an application with this desktop-entry ID is installed.",
        [](const Args& a) {
          std::string yes = CheckSoftwareIsInstalled(a.empty() ? "" : a[0].c_str());
          return Print(yes, yes == "1");
        }}},
      {"apply-font",
       {"apply-font NAME --script FILE [--arg3 TEXT] [--arg4 TEXT] [--sketch-plugin DIR] "
        "[--app-name NAME]",
        "Applies a font to the selection in the frontmost application; prints the JSON result.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"script", "arg3", "arg4", "sketch-plugin", "app-name"}, o)) return 2;
          if (o.Get("app-name")) SetAppName(o.Get("app-name"));
          const char* name = o.positional.empty() ? nullptr : o.positional[0].c_str();
          std::string json = Take(SetSoftwareFont(name, o.Get("arg3") ? o.Get("arg3") : "",
                                                  o.Get("arg4") ? o.Get("arg4") : "",
                                                  o.Get("script"), o.Get("sketch-plugin")));
          return Print(json, EnvelopeSucceeded(json));
        }}},
      {"batch",
       {"batch FONTMAP --script FILE",
        "Replaces fonts in the open document in one batch; prints the JSON result.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"script"}, o)) return 2;
          const char* map = o.positional.empty() ? nullptr : o.positional[0].c_str();
          std::string json = Take(SetSoftwareBatchFonts(map, o.Get("script")));
          return Print(json, EnvelopeSucceeded(json));
        }}},
      {"run-js",
       {"run-js --ps FILE --ai FILE --script FILE",
        "Runs the JavaScript files in Photoshop and in Illustrator; prints the JSON result.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"ps", "ai", "script"}, o)) return 2;
          std::string ps = o.Get("ps") ? ReadFile(o.Get("ps")) : "";
          std::string ai = o.Get("ai") ? ReadFile(o.Get("ai")) : "";
          std::string json = Take(SetSoftwareDoJs(ps.c_str(), ai.c_str(), o.Get("script")));
          return Print(json, EnvelopeSucceeded(json));
        }}},
      {"doc-path",
       {"doc-path --script FILE",
        "Prints the path of the document open in the frontmost application.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"script"}, o)) return 2;
          std::string path = Take(GetSoftwareFilePath(o.Get("script")));
          return Print(path, !path.empty());
        }}},
      {"doc-fonts",
       {"doc-fonts --script FILE",
        "Prints the fonts of the document open in the frontmost application as JSON.",
        [](const Args& a) {
          Options o;
          if (!Parse(a, {"script"}, o)) return 2;
          std::string json = Take(GetSoftwareFileFonts(o.Get("script")));
          return Print(json, EnvelopeSucceeded(json));
        }}},
  };
  return commands;
}

void Usage(FILE* out) {
  std::fprintf(out, "usage: vrkfont COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& [name, c] : Commands()) std::fprintf(out, "  %-14s %s\n", name.c_str(), c.help);
  std::fprintf(out, "\n'vrkfont COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  auto it = Commands().find(argv[1]);
  if (it == Commands().end()) {
    std::fprintf(stderr, "vrkfont: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::printf("usage: vrkfont %s\n\n%s\n", it->second.usage, it->second.help);
      return 0;
    }
  }
  return it->second.run(args);
}
