#include <filesystem>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "platform/atomic_file.h"
#include "protocol/fwimage.h"

namespace tavrik::cli {

namespace {

const char* ResultSentence(int result) {
    switch (result) {
        case kFwImageOk:
            return "image accepted";
        case kFwImageBadKbmcSum:
            return "the controller image checksum is wrong";
        case kFwImageBadKeySum:
            return "the key module image checksum is wrong";
        default:
            return "unknown result";
    }
}

int RunFirmwareCheck(const Args& args, Context& ctx) {
    const std::string& path = args.Positional()[0];
    // 144 KiB: too big for the stack of a small thread, so it lives on the heap.
    // The buffer is the file padded: written over its own input it would grow the file
    // and lose what it was. The same file may hide behind another name or a link.
    if (std::error_code ec;
        args.Has("buffer-out") && std::filesystem::equivalent(path, args.Get("buffer-out"), ec)) {
        ctx.err << "tavrikctl firmware check: --buffer-out '" << args.Get("buffer-out")
                << "' is the firmware file being checked\n";
        return kExitUsage;
    }
    auto buf = std::make_unique<FirmwareBuffer>();
    size_t length = 0;
    std::string error;
    switch (LoadFirmwareFile(path, *buf, &length, &error)) {
        case FirmwareLoadResult::Ok:
            break;
        case FirmwareLoadResult::CannotOpen:
            ctx.err << "tavrikctl: firmware file " << error << "\n";
            return kExitFailed;
        case FirmwareLoadResult::TooLarge:
            ctx.err << "tavrikctl: '" << path << "' is larger than " << kFwBufferSize
                    << " bytes, so it is not a firmware image\n";
            return kExitBadData;
        case FirmwareLoadResult::ReadError:
            ctx.err << "tavrikctl: firmware file " << error << "\n";
            return kExitFailed;
    }
    const bool dual = args.Has("dual");
    const bool wrapped = HasFirmwareWrapper(*buf);
    const int result = dual ? CheckDualImage(*buf) : CheckSingleImage(*buf);

    if (args.Has("buffer-out")) {
        const std::string outPath = args.Get("buffer-out");
        if (!WriteFileAtomically(outPath, {reinterpret_cast<const char*>(buf->data()), buf->size()},
                                 &error)) {
            ctx.err << "tavrikctl: cannot write '" << outPath << "': " << error << "\n";
            return kExitFailed;
        }
    }

    if (args.Has("json")) {
        ctx.out << nlohmann::json{{"file", path},
                                  {"length", length},
                                  {"wrapped", wrapped},
                                  {"check", dual ? "dual" : "single"},
                                  {"result", result},
                                  {"accepted", result == kFwImageOk},
                                  {"message", ResultSentence(result)}}
                       .dump(1)
                << "\n";
    } else {
        ctx.out << path << ": " << length << " bytes" << (wrapped ? ", wrapped" : "") << ", "
                << (dual ? "dual" : "single") << "-image check: " << result << " ("
                << ResultSentence(result) << ")\n";
    }
    return result == kFwImageOk ? kExitOk : kExitBadData;
}

}  // namespace

void AddFirmwareCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"firmware check",
         "FILE [--dual] [--buffer-out OUT] [--json]",
         {1, 1, "expected one FILE"},
         "Check a firmware image file as an upgrade would",
         "Reads FILE (at most 147456 bytes) into a cleared image buffer, removes a wrapper,\n"
         "and runs the single-image check, or with --dual the dual-image check that\n"
         "controllers from V1.20 on get.\n\n"
         "Prints the result: 1 accepted, -1 controller image checksum wrong, -3 key module\n"
         "image checksum wrong. Exit status 0 when accepted, 2 when refused.\n\n"
         "  --dual            also check the controller variant image\n"
         "  --buffer-out OUT  write the 147456-byte buffer as the upgrade engine receives it\n"
         "  --json            {\"file\", \"length\", \"wrapped\", \"check\", \"result\", "
         "\"accepted\", \"message\"}\n",
         {{"dual"}, {"buffer-out", true}, {"json"}},
         RunFirmwareCheck});
}

}  // namespace tavrik::cli
