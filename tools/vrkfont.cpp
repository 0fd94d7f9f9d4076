// SPDX-License-Identifier: MIT
// vrkfont: the library's exports from the command line. A client like any
// other: the public header and libVRKFont.so, nothing of the library's inside.
//
// Exit status: 0 when the answer means success, 1 when it means failure (with
// the reason on stderr where the tool can tell it), 2 on a usage error. Stdout
// carries exactly what the export answered.
#include <sys/stat.h>
#include <unistd.h>
#include <vrkfont/VRKFont.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Who owns a returned text (see the header): GetAppName always hands over a
// copy, the "1"/"0" answers are constants, every other "" is the shared one.
enum class Owned { Always, Never, UnlessEmpty };

std::string Take(char* text, Owned owned = Owned::UnlessEmpty) {
  std::string copy = text != nullptr ? text : "";
  if (text != nullptr &&
      (owned == Owned::Always || (owned == Owned::UnlessEmpty && text[0] != '\0'))) {
    std::free(text);
  }
  return copy;
}

void Say(const std::string& message) {
  std::fprintf(stderr, "vrkfont: %s\n", message.c_str());
}

int Answer(const std::string& text, bool ok) {
  std::printf("%s\n", text.c_str());
  return ok ? kOk : kFailed;
}

std::string ErrnoText(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return path + ": " + std::strerror(EISDIR);
  if (::access(path.c_str(), R_OK) != 0) return path + ": " + std::strerror(errno);
  return "";
}

bool XServerReachable() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool ok = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  return ok;
}

std::string NoXServer() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return "no X server reachable (DISPLAY is not set)";
  return std::string("no X server reachable at DISPLAY=") + display;
}

std::optional<Json> Parse(const std::string& text) {
  Json value = Json::parse(text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::string Text(const Json& object, const char* key) {
  if (!object.is_object() || !object.contains(key)) return "";
  const Json& v = object[key];
  return v.is_string() ? v.get<std::string>() : v.dump();
}

// ---- arguments --------------------------------------------------------------

struct Option {
  const char* name;  // without the leading "--"
  bool takesValue;
};

struct Args {
  std::map<std::string, std::string> named;
  std::vector<std::string> positional;

  const char* Get(const std::string& name) const {
    auto it = named.find(name);
    return it == named.end() ? nullptr : it->second.c_str();
  }
  bool Has(const std::string& name) const { return named.count(name) != 0; }
};

struct Command {
  const char* name;
  const char* usage;
  const char* help;
  std::vector<Option> options = {};
  size_t minPositional = 0;
  size_t maxPositional = 0;
  std::vector<const char*> required = {};  // options that must be given
  std::vector<const char*> oneOf = {};     // at least one of these must be given
  std::function<int(const Args&)> run;
};

void UsageLine(const Command& c) {
  std::fprintf(stderr, "usage: vrkfont %s\n", c.usage);
}

int UsageError(const Command& c, const std::string& why) {
  Say(why);
  UsageLine(c);
  return kUsage;
}

// "--name value", "--name=value" and "--flag"; "--" ends the options.
// Answers kOk, or kUsage after saying why.
int ParseArgs(const Command& c, const std::vector<std::string>& in, Args& out) {
  bool options = true;
  for (size_t i = 0; i < in.size(); ++i) {
    const std::string& a = in[i];
    if (options && a == "--") {
      options = false;
      continue;
    }
    if (!options || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    std::string name = a.rfind("--", 0) == 0 ? a.substr(2) : a.substr(1);
    std::optional<std::string> inlineValue;
    if (auto eq = name.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    auto known = std::find_if(c.options.begin(), c.options.end(),
                              [&](const Option& o) { return name == o.name; });
    if (known == c.options.end() || a.rfind("--", 0) != 0) {
      return UsageError(c, "unknown option '" + a + "'");
    }
    if (!known->takesValue) {
      if (inlineValue) return UsageError(c, "option '--" + name + "' takes no value");
      out.named[name] = "";
    } else if (inlineValue) {
      out.named[name] = *inlineValue;
    } else if (i + 1 < in.size()) {
      out.named[name] = in[++i];
    } else {
      return UsageError(c, "option '--" + name + "' needs a value");
    }
  }
  for (const char* r : c.required) {
    if (!out.Has(r)) return UsageError(c, std::string("missing option '--") + r + "'");
  }
  if (!c.oneOf.empty() &&
      std::none_of(c.oneOf.begin(), c.oneOf.end(), [&](const char* o) { return out.Has(o); })) {
    std::string names;
    for (const char* o : c.oneOf) names += std::string(names.empty() ? "--" : " or --") + o;
    return UsageError(c, "give " + names);
  }
  if (out.positional.size() < c.minPositional) return UsageError(c, "missing argument");
  if (out.positional.size() > c.maxPositional) {
    return UsageError(c, "unexpected argument '" + out.positional[c.maxPositional] + "'");
  }
  return kOk;
}

// ---- fonts ------------------------------------------------------------------

// Columns of the table are as wide as their widest cell on a terminal, where
// a CJK character takes two cells.
size_t DisplayWidth(const std::string& s) {
  std::mbstate_t state{};
  size_t width = 0;
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    wchar_t wc;
    size_t n = std::mbrtowc(&wc, p, end - p, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      state = {};
      ++p;
      ++width;
      continue;
    }
    p += n == 0 ? 1 : n;
    int w = ::wcwidth(wc);
    width += w < 0 ? 1 : static_cast<size_t>(w);
  }
  return width;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  // Widths need a UTF-8 character type whatever the user's locale is.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - DisplayWidth(row[i]) + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

int Fonts(const Args& a) {
  std::string list = Take(GetAvailableFonts());
  if (list.empty()) {
    Say("the font list could not be read from fontconfig");
    return Answer(list, false);
  }
  if (!a.Has("table")) return Answer(list, true);
  auto fonts = Parse(list);
  if (!fonts || !fonts->is_array()) {
    Say("the font list is not a JSON array");
    return kFailed;
  }
  std::vector<std::vector<std::string>> rows = {{"POSTSCRIPT NAME", "FAMILY", "STYLE", "PATH"}};
  for (const auto& f : *fonts) {
    rows.push_back(
        {Text(f, "postscriptName"), Text(f, "family"), Text(f, "style"), Text(f, "path")});
  }
  PrintTable(rows);
  return kOk;
}

std::string JsonArrayOf(std::vector<std::string>::const_iterator from,
                        std::vector<std::string>::const_iterator to) {
  Json array = Json::array();
  for (auto it = from; it != to; ++it) array.push_back(*it);
  return array.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0, pos;
  while ((pos = text.find(separator, start)) != std::string::npos) {
    parts.push_back(text.substr(start, pos - start));
    start = pos + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

// One call for all files, or on a terminal one call per slice with progress
// in between; the flags read the same either way.
int RegisterFiles(const Args& a, bool activate) {
  using Export = char* (*)(const char*);
  Export call = activate ? RegisterFont : UnRegisterFont;
  const auto& files = a.positional;
  const bool progress = files.size() > 1 && ::isatty(STDERR_FILENO);
  const size_t slice = progress ? std::max<size_t>(1, files.size() / 100) : files.size();
  const char* verb = activate ? "registering" : "unregistering";

  std::string flags;
  bool answered = true;
  for (size_t done = 0; done < files.size();) {
    size_t next = std::min(files.size(), done + slice);
    std::string part = Take(call(JsonArrayOf(files.begin() + done, files.begin() + next).c_str()));
    answered = answered && !part.empty();
    flags += (done == 0 ? "" : "|-|") + part;
    done = next;
    if (progress) std::fprintf(stderr, "\rvrkfont: %s %zu/%zu", verb, done, files.size());
  }
  if (progress) std::fprintf(stderr, "\r\033[K");
  if (!answered) flags.clear();

  std::vector<std::string> each = Split(flags, "|-|");
  bool ok = answered && each.size() == files.size();
  if (!answered) Say(std::string("the font manager did not answer (") + verb + " failed)");
  for (size_t i = 0; answered && i < files.size() && i < each.size(); ++i) {
    if (each[i] == "1") continue;
    ok = false;
    std::string why = ErrnoText(files[i]);
    if (why.empty()) why = files[i] + (activate ? ": not a font" : ": could not be deactivated");
    Say(why);
  }
  return Answer(flags, ok);
}

// ---- the frontmost application ------------------------------------------------

// Why an envelope (or a nested host result) reports failure, in one line.
std::string Reason(const Json& result, const char* script) {
  const std::string msg = Text(result, "msg");
  const std::string software = Text(result, "software");
  if (msg == "No Software") {
    if (!XServerReachable()) return NoXServer();
    return "no supported application in front" +
           (software.empty() ? "" : " (the frontmost is " + software + ")");
  }
  if (msg == "App Is Not Exist") {
    if (!XServerReachable()) return NoXServer();
    return software.empty() ? "the application has no window" : software + " has no window";
  }
  if (msg == "AppleScript Init Fail") {
    std::string why = script != nullptr ? ErrnoText(script) : "";
    return why.empty() ? std::string(script ? script : "") + ": the host script does not load"
                       : why;
  }
  if (msg == "AppleScript Fail")
    return std::string(script ? script : "") + ": the handler failed or is missing";
  if (msg == "Sketch Plugin Fail") return "the Sketch plug-in could not be installed";
  if (msg == "AdobeXD Plugin Fail")
    return "the Adobe XD plug-in's font-name file could not be written";
  if (msg == "AdobeXD Plugin Lose") return "the Adobe XD plug-in is not installed";
  std::string text = msg.empty() ? "failed" : msg;
  return software.empty() ? text : software + ": " + text;
}

// The envelope of apply-font, batch and doc-fonts.
int Envelope(const std::string& json, const char* script) {
  auto value = Parse(json);
  if (!value || !value->is_object()) {
    Say("the library answered no result");
    return Answer(json, false);
  }
  bool ok = Text(*value, "code") == "1";
  if (!ok) Say(Reason(*value, script));
  return Answer(json, ok);
}

// run-js succeeds when it ran somewhere and nowhere failed; a host without a
// window is no failure while the other one ran.
int RunJsEnvelope(const std::string& json, const char* script) {
  auto value = Parse(json);
  if (!value || !value->is_object()) {
    Say("the library answered no result");
    return Answer(json, false);
  }
  if (Text(*value, "code") != "1") {
    Say(Reason(*value, script));
    return Answer(json, false);
  }
  std::vector<std::string> reasons;
  int ran = 0;
  for (const char* key : {"psResult", "aiResult"}) {
    const Json& host = value->contains(key) ? (*value)[key] : Json();
    const std::string msg = Text(host, "msg");
    if (Text(host, "code") == "1") {
      ++ran;
    } else if (msg != "App Is Not Exist") {
      reasons.push_back(Reason(host, script));
    }
  }
  if (ran == 0 && reasons.empty()) {
    reasons.push_back(XServerReachable() ? "neither Photoshop nor Illustrator has a window"
                                         : NoXServer());
  }
  for (const auto& r : reasons) Say(r);
  return Answer(json, reasons.empty());
}

bool ReadFile(const char* path, std::string& text) {
  std::string why = ErrnoText(path);
  if (!why.empty()) {
    Say(why);
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

const char* Or(const char* value, const char* fallback) {
  return value ? value : fallback;
}

// ---- commands ----------------------------------------------------------------

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {.name = "app-name",
       .usage = "app-name [NAME]",
       .help = "Sets the caller's name when NAME is given, then prints it.",
       .maxPositional = 1,
       .run =
           [](const Args& a) {
             if (!a.positional.empty()) Take(SetAppName(a.positional[0].c_str()), Owned::Never);
             return Answer(Take(GetAppName(), Owned::Always), true);
           }},
      {.name = "fonts",
       .usage = "fonts [--table]",
       .help = "Lists every available font as JSON records (path, postscriptName, family, style);\n"
               "--table prints them as aligned columns instead.",
       .options = {{"table", false}},
       .run = Fonts},
      {.name = "find",
       .usage = "find [--ps NAME] [--family NAME]",
       .help = "Resolves a font by PostScript and/or family name; prints family|-|path.",
       .options = {{"ps", true}, {"family", true}},
       .oneOf = {"ps", "family"},
       .run =
           [](const Args& a) {
             std::string pair = Take(FindFont(a.Get("ps"), a.Get("family")));
             bool ok = !pair.empty() && pair.rfind("(null)|-|", 0) != 0;
             if (!ok) Say(pair.empty() ? "the font lookup failed" : "no such font");
             return Answer(pair, ok);
           }},
      {.name = "register",
       .usage = "register FILE...",
       .help = "Activates font files for the login session; prints one flag per file.",
       .minPositional = 1,
       .maxPositional = SIZE_MAX,
       .run = [](const Args& a) { return RegisterFiles(a, true); }},
      {.name = "unregister",
       .usage = "unregister FILE...",
       .help = "Deactivates font files; prints one flag per file.",
       .minPositional = 1,
       .maxPositional = SIZE_MAX,
       .run = [](const Args& a) { return RegisterFiles(a, false); }},
      {.name = "is-registered",
       .usage = "is-registered [--path FILE] [--ps NAME] [--family NAME]",
       .help = "Tells whether a font file is active, or whether a font of that name is available.",
       .options = {{"path", true}, {"ps", true}, {"family", true}},
       .oneOf = {"path", "ps", "family"},
       .run =
           [](const Args& a) {
             bool yes = FontIsRegistered(a.Get("path"), a.Get("ps"), a.Get("family"));
             if (!yes && a.Has("path")) {
               std::string why = ErrnoText(a.Get("path"));
               if (!why.empty()) Say(why);
             }
             return Answer(yes ? "1" : "0", yes);
           }},
      {.name = "is-installed",
       .usage = "is-installed ID",
       .help = "Tells whether an application with this desktop-entry ID is installed.",
       .minPositional = 1,
       .maxPositional = 1,
       .run =
           [](const Args& a) {
             std::string yes =
                 Take(CheckSoftwareIsInstalled(a.positional[0].c_str()), Owned::Never);
             return Answer(yes, yes == "1");
           }},
      {.name = "apply-font",
       .usage = "apply-font NAME --script FILE [--arg3 TEXT] [--arg4 TEXT] "
                "[--sketch-plugin DIR] [--app-name NAME]",
       .help = "Applies a font to the selection in the frontmost application; prints the JSON "
               "result.",
       .options = {{"script", true},
                   {"arg3", true},
                   {"arg4", true},
                   {"sketch-plugin", true},
                   {"app-name", true}},
       .minPositional = 1,
       .maxPositional = 1,
       .required = {"script"},
       .run =
           [](const Args& a) {
             if (a.Has("app-name")) Take(SetAppName(a.Get("app-name")), Owned::Never);
             std::string json = Take(SetSoftwareFont(a.positional[0].c_str(), Or(a.Get("arg3"), ""),
                                                     Or(a.Get("arg4"), ""), a.Get("script"),
                                                     a.Get("sketch-plugin")));
             return Envelope(json, a.Get("script"));
           }},
      {.name = "batch",
       .usage = "batch FONTMAP --script FILE",
       .help = "Replaces fonts in the open document in one batch; prints the JSON result.",
       .options = {{"script", true}},
       .minPositional = 1,
       .maxPositional = 1,
       .required = {"script"},
       .run =
           [](const Args& a) {
             std::string json =
                 Take(SetSoftwareBatchFonts(a.positional[0].c_str(), a.Get("script")));
             return Envelope(json, a.Get("script"));
           }},
      {.name = "run-js",
       .usage = "run-js [--ps FILE] [--ai FILE] --script FILE",
       .help = "Runs the JavaScript files in Photoshop and in Illustrator; prints the JSON result.",
       .options = {{"ps", true}, {"ai", true}, {"script", true}},
       .required = {"script"},
       .run =
           [](const Args& a) {
             std::string ps, ai;
             if (a.Has("ps") && !ReadFile(a.Get("ps"), ps)) return kFailed;
             if (a.Has("ai") && !ReadFile(a.Get("ai"), ai)) return kFailed;
             std::string json = Take(SetSoftwareDoJs(ps.c_str(), ai.c_str(), a.Get("script")));
             return RunJsEnvelope(json, a.Get("script"));
           }},
      {.name = "doc-path",
       .usage = "doc-path --script FILE",
       .help = "Prints the path of the document open in the frontmost application.",
       .options = {{"script", true}},
       .required = {"script"},
       .run =
           [](const Args& a) {
             std::string path = Take(GetSoftwareFilePath(a.Get("script")));
             if (path.empty()) {
               std::string why = ErrnoText(a.Get("script"));
               if (why.empty()) {
                 why = XServerReachable() ? "no document open in a supported application"
                                          : NoXServer();
               }
               Say(why);
             }
             return Answer(path, !path.empty());
           }},
      {.name = "doc-fonts",
       .usage = "doc-fonts --script FILE",
       .help = "Prints the fonts of the document open in the frontmost application as JSON.",
       .options = {{"script", true}},
       .required = {"script"},
       .run =
           [](const Args& a) {
             return Envelope(Take(GetSoftwareFileFonts(a.Get("script"))), a.Get("script"));
           }},
  };
  return commands;
}

const char* const kShortUsage = "usage: vrkfont [--help] [--version] COMMAND [ARGS]";

void Help() {
  std::printf("%s\n\ncommands:\n", kShortUsage);
  for (const auto& c : Commands()) {
    std::string first = c.help;
    first.resize(std::min(first.find('\n'), first.size()));
    std::printf("  %-14s %s\n", c.name, first.c_str());
  }
  std::printf("\n'vrkfont COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fprintf(stderr, "%s\n", kShortUsage);
    return kUsage;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    Help();
    return kOk;
  }
  if (args[0] == "--version") {
    std::printf("vrkfont %d.%d.%d\n", VRKFONT_VERSION_MAJOR, VRKFONT_VERSION_MINOR,
                VRKFONT_VERSION_PATCH);
    return kOk;
  }
  const auto& commands = Commands();
  auto it = std::find_if(commands.begin(), commands.end(),
                         [&](const Command& c) { return args[0] == c.name; });
  if (it == commands.end()) {
    Say(args[0][0] == '-' ? "unknown option '" + args[0] + "'"
                          : "unknown command '" + args[0] + "'");
    std::fprintf(stderr, "%s\n", kShortUsage);
    return kUsage;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const auto& a : rest) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::printf("usage: vrkfont %s\n\n%s\n", it->usage, it->help);
      return kOk;
    }
  }
  Args parsed;
  if (int status = ParseArgs(*it, rest, parsed); status != kOk) return status;
  try {
    return it->run(parsed);
  } catch (const std::exception& e) {
    Say(e.what());
    return kFailed;
  }
}
