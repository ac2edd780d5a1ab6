#pragma once

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include "editor/contactdisplayer.h"
#include "mytreeview.h"

// The widgets of the main window.
class Ui_MainWindow {
public:
    QWidget* centralWidget;
    QVBoxLayout* verticalLayout_2;
    QSplitter* splitter;
    MyTreeView* treeMain;
    QWidget* widget_2;
    QVBoxLayout* verticalLayout;
    QWidget* widget;
    QHBoxLayout* horizontalLayout;
    QLineEdit* txtKeyword;
    QToolButton* btnSearch;
    QLabel* lbDisplayKeyword;
    MyTreeView* treeContacts;
    QLabel* lbTotal;
    ContactDisplayer* wdContactInfo;
    QMenuBar* menuBar;
    QStatusBar* statusBar;
    QToolBar* toolBar;

    void setupUi(QMainWindow* MainWindow) {
        if (MainWindow->objectName().isEmpty()) {
            MainWindow->setObjectName(QString::fromUtf8("MainWindow"));
        }
        MainWindow->resize(1000, 600);
        centralWidget = new QWidget(MainWindow);
        centralWidget->setObjectName("centralWidget");
        verticalLayout_2 = new QVBoxLayout(centralWidget);
        verticalLayout_2->setSpacing(2);
        verticalLayout_2->setContentsMargins(0, 0, 0, 0);
        splitter = new QSplitter(centralWidget);
        splitter->setObjectName("splitter");
        splitter->setOrientation(Qt::Horizontal);
        splitter->setHandleWidth(1);
        splitter->setChildrenCollapsible(false);

        treeMain = new MyTreeView(splitter);
        treeMain->setObjectName("treeMain");
        treeMain->setSelectionMode(QAbstractItemView::SingleSelection);
        treeMain->setHeaderHidden(true);
        splitter->addWidget(treeMain);

        widget_2 = new QWidget(splitter);
        widget_2->setObjectName("widget_2");
        verticalLayout = new QVBoxLayout(widget_2);
        verticalLayout->setSpacing(0);
        verticalLayout->setContentsMargins(0, 0, 0, 0);

        widget = new QWidget(widget_2);
        widget->setObjectName("widget");
        widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        horizontalLayout = new QHBoxLayout(widget);
        horizontalLayout->setSpacing(0);
        horizontalLayout->setContentsMargins(0, 0, 0, 0);
        txtKeyword = new QLineEdit(widget);
        txtKeyword->setObjectName("txtKeyword");
        horizontalLayout->addWidget(txtKeyword);
        btnSearch = new QToolButton(widget);
        btnSearch->setObjectName("btnSearch");
        btnSearch->setIcon(QIcon(":/res/search.png"));
        horizontalLayout->addWidget(btnSearch);
        verticalLayout->addWidget(widget);

        lbDisplayKeyword = new QLabel(widget_2);
        lbDisplayKeyword->setObjectName("lbDisplayKeyword");
        lbDisplayKeyword->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        lbDisplayKeyword->setWordWrap(true);
        // The keyword is the user's text: never interpreted as markup.
        lbDisplayKeyword->setTextFormat(Qt::PlainText);
        lbDisplayKeyword->setStyleSheet("background-color:#FFFFDE;\npadding:2px 10px;");
        verticalLayout->addWidget(lbDisplayKeyword);

        treeContacts = new MyTreeView(widget_2);
        treeContacts->setObjectName("treeContacts");
        treeContacts->setSelectionMode(QAbstractItemView::ExtendedSelection);
        treeContacts->setIndentation(0);
        treeContacts->setRootIsDecorated(false);
        // Every row has the same height, which lets the view skip measuring 10,000 rows.
        treeContacts->setUniformRowHeights(true);
        verticalLayout->addWidget(treeContacts);

        lbTotal = new QLabel(widget_2);
        lbTotal->setObjectName("lbTotal");
        lbTotal->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        lbTotal->setMinimumSize(25, 25);
        lbTotal->setSizeIncrement(25, 25);
        lbTotal->setStyleSheet("border-top:none;");
        lbTotal->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        lbTotal->setTextFormat(Qt::PlainText);
        verticalLayout->addWidget(lbTotal);
        splitter->addWidget(widget_2);

        wdContactInfo = new ContactDisplayer(splitter);
        wdContactInfo->setObjectName("wdContactInfo");
        wdContactInfo->setStyleSheet("background-color:#F1F5FB;");
        splitter->addWidget(wdContactInfo);

        verticalLayout_2->addWidget(splitter);
        MainWindow->setCentralWidget(centralWidget);

        menuBar = new QMenuBar(MainWindow);
        menuBar->setObjectName("menuBar");
        MainWindow->setMenuBar(menuBar);
        statusBar = new QStatusBar(MainWindow);
        statusBar->setObjectName("statusBar");
        MainWindow->setStatusBar(statusBar);
        toolBar = new QToolBar(MainWindow);
        toolBar->setObjectName("toolBar");
        toolBar->setMovable(false);
        toolBar->setFloatable(false);
        toolBar->setAllowedAreas(Qt::NoToolBarArea);
        toolBar->setIconSize(QSize(58, 58));
        MainWindow->addToolBar(Qt::TopToolBarArea, toolBar);

        retranslateUi(MainWindow);
        QMetaObject::connectSlotsByName(MainWindow);
    }

    void retranslateUi(QMainWindow* MainWindow) {
        MainWindow->setWindowTitle(QApplication::translate("MainWindow", "MainWindow", nullptr));
        btnSearch->setText(QApplication::translate("MainWindow", "...", nullptr));
        lbDisplayKeyword->setText(QString());
        lbTotal->setText(QApplication::translate("MainWindow", "Total:0", nullptr));
        toolBar->setWindowTitle(QApplication::translate("MainWindow", "toolBar", nullptr));
    }
};
