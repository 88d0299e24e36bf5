#pragma once

#include <quorrel/DataModel.hpp>
#include <quorrel/URLGraphBuilder.hpp>
#include <support/temp_folder.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

// A temporary configuration folder: a blocking page template, a policy file and a URL database.
class PolicyFolder {
public:
    explicit PolicyFolder(const std::string& policy = "<tavdata/>") {
        m_folder.write("site/pages/templates/ForbiddenPage.tpl.html", "<html>blocked</html>");
        Write(PolicyPath(), policy);
        tav::urlfilter::URLGraphBuilder sites;
        sites.Add("school.example", "", false, 0);
        WriteDatabase(sites);
    }

    const std::string& Root() const { return m_root; }
    std::string PolicyPath() const { return m_root + "/zun_data.xml"; }
    std::string Policy() const { return Read(PolicyPath()); }
    std::string DatabasePath() const { return m_root + "/URLFilterDB.bin"; }
    void WriteDatabase(const tav::urlfilter::URLGraphBuilder& sites) const {
        std::ofstream file(DatabasePath());
        sites.Write(file);
    }

    // A model loaded from this folder; the result of its Init goes to `result`.
    std::unique_ptr<tav::DataModel> Load(tav::Ret& result) const {
        auto model = std::make_unique<tav::DataModel>();
        result = model->Init(PolicyPath(), DatabasePath(), m_root + "/site");
        return model;
    }
    std::unique_ptr<tav::DataModel> Load() const {
        tav::Ret result(tav::Ret::OK, "");
        auto model = Load(result);
        EXPECT_TRUE(result.IsOK()) << result.GetMessage();
        return model;
    }

    static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string Read(const std::string& path) { return support::temp_folder::read(path); }

    // Puts this machine (127.0.0.1) into the model's group `groupId` and gives back a copy of that group with
    // its time table and time limits off, for the case to change further and save.
    static std::unique_ptr<tav::DataModel::ClientGroup> MachineInGroup(tav::DataModel& model,
                                                                       const std::string& groupId) {
        auto me = model.CreateClient();
        me->SetIP("127.0.0.1");
        me->SetGroupID(groupId);
        EXPECT_TRUE(model.SaveClient(*me).IsOK());
        std::unique_ptr<tav::DataModel::ClientGroup> group(
            static_cast<tav::DataModel::ClientGroup*>(model.GetClientGroup(groupId).GetObj()));
        group->SetIsTimeTableEnabled(false);
        group->SetIsTimeLimitsEnabled(false);
        return group;
    }

private:
    support::temp_folder m_folder{"policy"};
    std::string m_root = m_folder.path().string();
};
