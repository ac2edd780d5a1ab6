// The fixture both suites that drive the real main window against the simulated iPhone share.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/mainwindow.h"
#include "app/mainwindow_form.h"
#include "tests/fakedevice/fakedevice.h"
#include "testutil.h"

namespace twtest {

// The simulated phones' server; each suite's main sets it for the whole run.
inline fakedevice::Server*& phoneServer() {
    static fakedevice::Server* server = nullptr;
    return server;
}

class WindowTest : public ::testing::Test {
protected:
    using Tree = ItemModelMainTree;

    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
    }
    void TearDown() override {
        win.reset();
        for (const auto& p : phoneServer()->phones()) {
            phoneServer()->detach(p->udid());
        }
    }
    MainWindow& open() {
        win = std::make_unique<MainWindow>(answering);
        return *win;
    }
    Tree& tree() { return win->treeModel(); }
    Ui_MainWindow* ui() { return win->form(); }
    Tree::_DBItemNode* dbChild(Tree::_ItemNode* root, int i) {
        return dynamic_cast<Tree::_DBItemNode*>(root->children.value(i));
    }

    ChooserScripts choosers;
    ScriptedChoosers answering{choosers};
    std::unique_ptr<MainWindow> win;
};

}  // namespace twtest
