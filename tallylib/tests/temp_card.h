// A card file in the temporary folder (the working folder on Windows), removed at the end of the test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

class TempCard {
public:
    explicit TempCard(const std::string &bytes)
    {
        static int count = 0;
#ifdef _WIN32
        // A fresh prefix may have no Temp folder: the working folder serves.
        path_ = "tally_card_" + std::to_string(++count) + ".txt";
#else
        const char *dir = std::getenv("TMPDIR");
        path_ = std::string(dir ? dir : "/tmp") + "/tally_card_" + std::to_string(++count) + ".txt";
#endif
        std::FILE *f = std::fopen(path_.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~TempCard() { std::remove(path_.c_str()); }
    const char *path() const { return path_.c_str(); }

private:
    std::string path_;
};
