// Loads arbitrary bytes as the policy file. A load either fails with a message or gives a model
// that saves and loads again to the same file.
#include <quorrel/DataModel.hpp>
#include <support/temp_folder.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

struct Folder {
    const support::temp_folder folder{"fuzz"};
    const std::string root = folder.path().string();
    Folder() { folder.write("site/pages/templates/ForbiddenPage.tpl.html", "blocked"); }
    std::string Policy() const { return root + "/zun_data.xml"; }
    std::string Read() const { return support::temp_folder::read(Policy()); }
    tav::Ret Load(tav::DataModel& model) const {
        return model.Init(Policy(), root + "/URLFilterDB.bin", root + "/site");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    std::ofstream(folder.Policy(), std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    try {
        tav::DataModel model;
        if (!folder.Load(model).IsOK())
            return 0;
        if (!model.SaveTunes().IsOK())
            return 0;
        const std::string saved = folder.Read();
        tav::DataModel again;
        if (!folder.Load(again).IsOK() || !again.SaveTunes().IsOK() || folder.Read() != saved)
            std::abort();
    } catch (const std::runtime_error&) {
        // A customer site whose address does not parse stops the load by design.
    }
    return 0;
}
