// Program resources exist only in Windows programs: embedding is not available elsewhere.
#include "cdmenu/cd_embed.h"

int CdEmbedScript(const std::string&, const std::string&, const std::string&, std::string* error)
{
    *error = "embedding a script needs the Windows resource functions";
    return 0;
}

bool CdCanEmbedScript()
{
    return false;
}
