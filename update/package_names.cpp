#include "update/package_names.hpp"

namespace fenrix {

std::string package_stem(std::string_view architecture, std::string_view language_code)
{
    std::string stem = "Lumora";
    stem += architecture;
    stem += language_code;
    return stem;
}

std::string package_url_path(std::string_view folder_path, std::string_view architecture,
                             std::string_view language_code)
{
    std::string path(folder_path);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += package_stem(architecture, language_code);
    path += ".msi";
    return path;
}

std::wstring installer_parameters(std::wstring_view package_file, std::wstring_view log_file, bool unattended)
{
    std::wstring parameters = L"/i \"";
    parameters += package_file;
    parameters += L"\" /l* \"";
    parameters += log_file;
    parameters += L"\"";
    if (unattended)
        parameters += L" /qn /norestart";
    return parameters;
}

}  // namespace fenrix
