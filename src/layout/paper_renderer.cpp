#include "layout/paper_renderer.h"

#include <dlfcn.h>

#include "platform/shared_library.h"

namespace tavrik::layout {

namespace {

constexpr const char* kModuleName = "tavrik-paper.so";

}  // namespace

PaperRenderFn LoadPaperRenderer(const std::filesystem::path& programFolder, std::string& error) {
    std::string tried;
    for (const auto& path : {programFolder / kModuleName,
                             programFolder.parent_path() / "lib" / "tavrik" / kModuleName}) {
        void* handle = OpenSharedLibrary(path.string(), error);
        if (handle == nullptr) {
            std::error_code ec;
            if (std::filesystem::exists(path, ec)) {
                return nullptr;
            }
            tried += (tried.empty() ? "" : ", ") + path.string();
            continue;
        }
        if (auto fn = reinterpret_cast<PaperRenderFn>(dlsym(handle, "tavrik_paper_render"))) {
            return fn;
        }
        error = path.string() + " is not the layout renderer";
        return nullptr;
    }
    error = "the layout renderer is not installed (looked for " + tried + ")";
    return nullptr;
}

bool RenderOnPaper(const std::filesystem::path& programFolder, const LayoutSheet& sheet,
                   const PaperOptions& options, std::string& bytes, std::string& error) {
    const PaperRenderFn render = LoadPaperRenderer(programFolder, error);
    return render != nullptr && render(&sheet, &options, &bytes, &error);
}

}  // namespace tavrik::layout
