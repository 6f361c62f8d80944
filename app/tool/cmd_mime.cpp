// mime: the leaf parts of a message file in the order the converter takes
// them.

#include "app/Tool.h"

#include "msg/CMime.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

int Mime(ToolContext&, const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return ToolFail("usage: mime FILE");
    const std::string& path = args[0];
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return ToolFail("cannot read " + path);
    CMIMEMsg msg;
    if (!msg.Open(path.c_str()))
        return ToolFail("the MIME structure of " + path + " does not parse");
    // type/subtype, encoding, disposition name ("-" when none), start, end;
    // separated by tabs since a name may hold blanks.
    for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart())
        std::printf("%s/%s\t%s\t%s\t%lld\t%lld\n", p->Type().c_str(), p->SubType().c_str(),
                    p->Encoding().c_str(), p->DispositionName() ? p->DispositionName() : "-",
                    static_cast<long long>(p->Start()), static_cast<long long>(p->End()));
    return 0;
}

} // namespace

MT_TOOL_COMMAND("mime", "FILE",
                "list the leaf parts of a message file: type/subtype, encoding, disposition "
                "name, start and end offsets (tab-separated)",
                Mime);
