#include "app/alias.h"

#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/files.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace {

const char *const kAliasFile = "/data/configs/alias.json";

// The parser recurses once per level of nesting, so a file nested deeper
// than this is refused before it is parsed. A real file nests 4 deep.
constexpr int kMaxDepth = 64;

// Throws when objects and arrays in `text` nest deeper than kMaxDepth.
// Brackets inside strings do not count; the scan does not recurse.
void checkDepth(const std::string &text)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                throw std::runtime_error("nested deeper than " + std::to_string(kMaxDepth));
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

// The entry number: a text of decimal digits (an optional minus sign allowed).
int parseId(const std::string &text)
{
    size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (text.size() <= digits || text.size() - digits > 9)
        throw std::runtime_error("id is not a number: " + text);
    for (size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw std::runtime_error("id is not a number: " + text);
    }
    return std::atoi(text.c_str());
}

// Finds the first entry of `kind` numbered `id`. Throws on any malformed
// content; false when there is no such kind or entry.
bool findEntry(const boost::property_tree::ptree &root, const std::string &kind, int id, ALIAS_PARA *out)
{
    const boost::property_tree::ptree &namelist = root.get_child("namelist");
    if (namelist.empty())
        return false;
    auto kindIt = namelist.find(kind);
    if (kindIt == namelist.not_found())
        return false;

    bool found = false;
    for (const auto &child : kindIt->second) {
        const boost::property_tree::ptree &entry = child.second;
        const int entryId = parseId(entry.get<std::string>("id"));
        const std::string valid = entry.get<std::string>("valid");
        const std::string name = entry.get<std::string>("name");
        if (!found && entryId == id) {
            out->id = entryId;
            out->valid = valid;
            out->name = name;
            found = true;
        }
    }
    return found;
}

} // namespace

bool get_json_alias_para(ALIAS_PARA *out, const std::string &kind, int id)
{
    if (!out)
        return false;
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    std::string text;
    if (!platform::files::readAll(kAliasFile, platform::files::Kind::AliasNames, text))
        return false;

    ALIAS_PARA entry;
    try {
        checkDepth(text);
        std::istringstream in(text);
        boost::property_tree::ptree root;
        boost::property_tree::read_json(in, root);
        if (!findEntry(root, kind, id, &entry))
            return false;
    } catch (const std::exception &e) {
        debugPrint("json error: %s\n", e.what());
        platform::files::remove(kAliasFile);
        return false;
    }
    *out = entry;
    return out->valid != "off" && !out->name.empty();
}
