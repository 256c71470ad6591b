// Settings: defaults, then the settings file, then the command line.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "serial.h"
#include "settings.h"

#ifndef MOSSLANE_VERSION
#define MOSSLANE_VERSION "1.0"
#endif

const char kVersion[] = "mosslane " MOSSLANE_VERSION;

const char kUsage[] =
    "usage: mosslane [OPTION...]                 the standing poll cycle\n"
    "       mosslane send [OPTION...] PATH...    offer files and folders once\n"
    "       mosslane receive [OPTION...]         take one batch\n"
    "options (each also a line KEY = VALUE in the settings file):\n"
    "  --in DIR  --out DIR  --device PATH  --baud 115200|57600|19200\n"
    "  --handshake cts|none  --translate-text yes|no  --line-ends crlf|lf\n"
    "  --text-extensions \".txt .ini\"  --wire-names cp1252|utf-8|bytes  --log FILE\n"
    "  --no-translate  --config FILE  --timeout S  --quiet  --show-settings\n"
    "  --help  --version\n";

namespace {

struct Rule {
    const char* key;
    const char* fallback;   // nullptr: no default
    const char* choices;    // space-separated allowed values, nullptr for free text
};

// In SettingId order.
const Rule kRules[SettingCount] = {
    {"in", nullptr, nullptr},
    {"out", nullptr, nullptr},
    {"device", nullptr, nullptr},
    {"baud", "57600", "115200 57600 19200"},
    {"handshake", "cts", "cts none"},
    {"translate-text", "yes", "yes no"},
    {"line-ends", "crlf", "crlf lf"},
    {"text-extensions", ".txt", nullptr},
    {"wire-names", "cp1252", "cp1252 utf-8 bytes"},
    {"log", nullptr, nullptr},
};

bool InChoices(const char* choices, const char* value) {
    size_t n = strlen(value);
    for (const char* p = choices; *p != '\0';) {
        const char* end = strchr(p, ' ');
        size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
        if (length == n && n > 0 && strncmp(p, value, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

int FindKey(const char* key, size_t length) {
    for (int i = 0; i < SettingCount; ++i) {
        if (strlen(kRules[i].key) == length && strncmp(kRules[i].key, key, length) == 0) return i;
    }
    return -1;
}

// "~/x" is taken from the home folder, as a shell would.
void ExpandHome(const char* value, char* out, size_t size) {
    const char* home = getenv("HOME");
    if (value[0] == '~' && (value[1] == '/' || value[1] == '\0') && home && *home) {
        snprintf(out, size, "%s%s", home, value + 1);
    } else {
        snprintf(out, size, "%s", value);
    }
}

// Checks and stores one value; the reason goes into why.
bool Assign(Settings* settings, int id, const char* value, Source source, int line,
            char* why, size_t whySize) {
    const Rule& rule = kRules[id];
    if (rule.choices && !InChoices(rule.choices, value)) {
        snprintf(why, whySize, "%s must be one of: %s (not \"%s\")", rule.key, rule.choices, value);
        return false;
    }
    if (id == SetExtensions && strlen(value) >= static_cast<size_t>(SettingExtensionsSize)) {
        snprintf(why, whySize, "text-extensions: list too long");
        return false;
    }
    char expanded[SettingTextSize];
    ExpandHome(value, expanded, sizeof expanded);
    if (strlen(expanded) >= sizeof settings->all[id].value) {
        snprintf(why, whySize, "%s: value too long", rule.key);
        return false;
    }
    Setting& s = settings->all[id];
    strcpy(s.value, expanded);
    s.source = source;
    s.line = line;
    return true;
}

char* Trim(char* text) {
    while (isspace(static_cast<unsigned char>(*text))) ++text;
    size_t n = strlen(text);
    while (n > 0 && isspace(static_cast<unsigned char>(text[n - 1]))) text[--n] = '\0';
    // A value may be quoted to keep spaces at its ends.
    if (n >= 2 && text[0] == '"' && text[n - 1] == '"') {
        text[n - 1] = '\0';
        ++text;
    }
    return text;
}

bool ReadLine(Settings* settings, char* text, int line) {
    char* p = text;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0' || *p == '#') return true;
    char* equals = strchr(p, '=');
    char why[SettingTextSize + 128];
    if (equals == nullptr) {
        snprintf(why, sizeof why, "expected KEY = VALUE");
    } else {
        *equals = '\0';
        char* key = Trim(p);
        int id = FindKey(key, strlen(key));
        if (id < 0) {
            snprintf(why, sizeof why, "unknown setting \"%s\"", key);
        } else if (Assign(settings, id, Trim(equals + 1), FromFile, line, why, sizeof why)) {
            return true;
        }
    }
    fprintf(stderr, "mosslane: %s:%d: %s\n", settings->file, line, why);
    return false;
}

// The settings file named, or the one in the user's configuration folder.
bool FindSettingsFile(const char* named, Settings* settings) {
    if (named) {
        snprintf(settings->file, sizeof settings->file, "%s", named);
        return true;
    }
    const char* xdg = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    if (xdg && xdg[0] == '/') {
        snprintf(settings->file, sizeof settings->file, "%s/mosslane/config", xdg);
    } else if (home && *home) {
        snprintf(settings->file, sizeof settings->file, "%s/.config/mosslane/config", home);
    } else {
        settings->file[0] = '\0';
    }
    return false;
}

bool ReadSettingsFile(const char* named, Settings* settings) {
    bool required = FindSettingsFile(named, settings);
    if (settings->file[0] == '\0') return true;
    FILE* f = fopen(settings->file, "r");
    if (f == nullptr) {
        if (!required && (errno == ENOENT || errno == ENOTDIR)) return true;
        fprintf(stderr, "mosslane: %s: %s\n", settings->file, strerror(errno));
        return false;
    }
    settings->fileExists = true;
    char text[SettingTextSize + 64];
    bool ok = true;
    for (int line = 1; ok && fgets(text, sizeof text, f); ++line) {
        size_t n = strlen(text);
        if (n > 0 && text[n - 1] != '\n' && !feof(f)) {
            fprintf(stderr, "mosslane: %s:%d: line too long\n", settings->file, line);
            ok = false;
            break;
        }
        ok = ReadLine(settings, text, line);
    }
    fclose(f);
    return ok;
}

bool ParseNumber(const char* text, long* value) {
    char* end = nullptr;
    errno = 0;
    long n = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || n < 0) return false;
    *value = n;
    return true;
}

// Options that are no setting. Returns 1 when taken (with *used values), 0
// when not one of them, -1 when its value is bad.
int CommandOption(const char* name, const char* value, Invocation* invocation, int* used) {
    *used = 0;
    if (strcmp(name, "--quiet") == 0) invocation->quiet = true;
    else if (strcmp(name, "--show-settings") == 0) invocation->showSettings = true;
    else if (strcmp(name, "--help") == 0) invocation->help = true;
    else if (strcmp(name, "--version") == 0) invocation->version = true;
    else if (strcmp(name, "--timeout") == 0) {
        *used = 1;
        if (!value || !ParseNumber(value, &invocation->timeoutSeconds)) return -1;
    } else {
        return 0;
    }
    return 1;
}

bool TakePositional(const char* arg, Invocation* invocation) {
    if (invocation->pathCount == 0 && invocation->command == CommandPoll) {
        if (strcmp(arg, "send") == 0) invocation->command = CommandSend;
        else if (strcmp(arg, "receive") == 0) invocation->command = CommandReceive;
        else if (strcmp(arg, "poll") == 0) invocation->command = CommandPoll;
        else {
            fprintf(stderr, "mosslane: unknown command: %s\n", arg);
            return false;
        }
        return true;
    }
    if (invocation->command != CommandSend) {
        fprintf(stderr, "mosslane: unexpected argument: %s\n", arg);
        return false;
    }
    if (invocation->pathCount >= MaxSendPaths) {
        fprintf(stderr, "mosslane: at most %d paths at once\n", MaxSendPaths);
        return false;
    }
    invocation->paths[invocation->pathCount++] = arg;
    return true;
}

// Splits "--key=value" into name and value.
const char* SplitOption(const char* arg, char* name, size_t size, bool* inlineValue) {
    const char* equals = strchr(arg, '=');
    *inlineValue = equals != nullptr;
    size_t n = equals ? static_cast<size_t>(equals - arg) : strlen(arg);
    if (n >= size) n = size - 1;
    memcpy(name, arg, n);
    name[n] = '\0';
    return equals ? equals + 1 : nullptr;
}

bool ParseArguments(int argc, char** argv, Settings* settings, Invocation* invocation) {
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (onlyPaths || arg[0] != '-' || strcmp(arg, "-") == 0) {
            if (!TakePositional(arg, invocation)) return false;
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            onlyPaths = true;
            continue;
        }
        char name[64];
        bool inlineValue;
        const char* value = SplitOption(arg, name, sizeof name, &inlineValue);
        if (!inlineValue) value = i + 1 < argc ? argv[i + 1] : nullptr;
        int used = 0;
        if (strcmp(name, "--config") == 0) {
            used = 1;  // read before the others
        } else if (strcmp(name, "--no-translate") == 0) {
            char why[128];
            Assign(settings, SetTranslate, "no", FromOption, 0, why, sizeof why);
        } else {
            int taken = CommandOption(name, value, invocation, &used);
            if (taken < 0) {
                fprintf(stderr, "mosslane: bad value for %s\n", name);
                return false;
            }
            if (taken == 0) {
                int id = strncmp(name, "--", 2) == 0 ? FindKey(name + 2, strlen(name + 2)) : -1;
                if (id < 0 || value == nullptr) {
                    fprintf(stderr, "mosslane: bad option or value: %s\n", arg);
                    return false;
                }
                char why[SettingTextSize + 128];
                if (!Assign(settings, id, value, FromOption, 0, why, sizeof why)) {
                    fprintf(stderr, "mosslane: --%s\n", why);
                    return false;
                }
                used = 1;
            }
        }
        if (!inlineValue) i += used;
    }
    return true;
}

const char* ConfigOption(int argc, char** argv, bool* bad) {
    const char* named = nullptr;
    *bad = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0) break;
        if (strncmp(argv[i], "--config=", 9) == 0) named = argv[i] + 9;
        else if (strcmp(argv[i], "--config") == 0) {
            if (i + 1 >= argc) *bad = true;
            else named = argv[++i];
        }
    }
    return named;
}

}  // namespace

bool LoadInvocation(int argc, char** argv, Settings* settings, Invocation* invocation) {
    memset(settings, 0, sizeof *settings);
    for (int i = 0; i < SettingCount; ++i) {
        Setting& s = settings->all[i];
        s.key = kRules[i].key;
        s.source = FromDefault;
        snprintf(s.value, sizeof s.value, "%s", kRules[i].fallback ? kRules[i].fallback : "");
    }
    bool bad = false;
    const char* named = ConfigOption(argc, argv, &bad);
    if (bad) {
        fprintf(stderr, "mosslane: --config needs a file\n");
        return false;
    }
    // --help and --version answer whatever the settings file holds.
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0) invocation->help = true;
        if (strcmp(argv[i], "--version") == 0) invocation->version = true;
    }
    if (invocation->help || invocation->version) return true;
    return ReadSettingsFile(named, settings) && ParseArguments(argc, argv, settings, invocation);
}

void PrintSettings(const Settings& settings) {
    if (settings.file[0] == '\0') printf("# settings file: none (no home folder)\n");
    else printf("# settings file: %s%s\n", settings.file, settings.fileExists ? "" : " (not present)");
    for (const Setting& s : settings.all) {
        char where[SettingTextSize + 32];
        switch (s.source) {
        case FromDefault: snprintf(where, sizeof where, "%s", s.value[0] ? "default" : "not set"); break;
        case FromFile: snprintf(where, sizeof where, "settings file line %d", s.line); break;
        case FromOption: snprintf(where, sizeof where, "option --%s", s.key); break;
        }
        char line[2 * SettingTextSize];
        bool quote = s.value[0] != '\0' && (isspace(static_cast<unsigned char>(s.value[0])) ||
                                             isspace(static_cast<unsigned char>(s.value[strlen(s.value) - 1])));
        snprintf(line, sizeof line, quote ? "%s = \"%s\"" : "%s = %s", s.key, s.value);
        printf("%-40s # %s\n", line, where);
    }
}

LineSetup LineSetupOf(const Settings& settings) {
    LineSetup setup;
    setup.baudRate = static_cast<uint32_t>(strtoul(settings.all[SetBaud].value, nullptr, 10));
    setup.handShake = strcmp(settings.all[SetHandshake].value, "none") == 0 ? HandshakeNone : HandshakeCts;
    if (strcmp(settings.all[SetTranslate].value, "no") == 0) setup.translate = TranslateOff;
    else if (strcmp(settings.all[SetLineEnds].value, "lf") == 0) setup.translate = TranslateLf;
    else setup.translate = TranslateCrLf;
    if (!ParseWireNames(settings.all[SetWireNames].value, &setup.wireNames)) setup.wireNames = WireCp1252;
    return setup;
}
