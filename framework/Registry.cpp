#include "framework/Registry.h"

#include "framework/Profile.h"

#include <cerrno>

namespace fw {

namespace {
std::string& Store()
{
    static std::string s_store;
    return s_store;
}

bool ValidName(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos &&
           name.find_first_of("\r\n]") == std::string::npos;
}
} // namespace

RegKey RegKey::ClassesRoot() { return RegKey("HKEY_CLASSES_ROOT"); }

void RegKey::SetStorePath(const std::string& path) { Store() = path; }

const std::string& RegKey::StorePath() { return Store(); }

RegKey RegKey::CreateKey(const std::string& subkey) const
{
    if (!IsOpen() || !ValidName(subkey))
        return RegKey();
    return RegKey(m_path + "\\" + subkey);
}

bool RegKey::SetValue(const std::string& subkey, const std::string& text) const
{
    if (!IsOpen() || Store().empty() || !ValidName(subkey)) {
        errno = EINVAL;
        return false;
    }
    return Profile::WriteString(Store(), m_path + "\\" + subkey, "@", text);
}

bool RegKey::QueryValue(const std::string& subkey, std::string& text) const
{
    if (!IsOpen() || Store().empty() || !ValidName(subkey))
        return false;
    const std::string missing = "\x01missing";
    text = Profile::GetString(Store(), m_path + "\\" + subkey, "@", missing, 4096);
    return text != missing;
}

} // namespace fw
