#include "aboutusform.h"

#include <QCoreApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/appinfo.h"
#include "ui/stylesheet.h"
#include "platform/webservice/webservice.h"

void Ui_AboutUsForm::setupUi(QDialog* AboutUsForm) {
    if (AboutUsForm->objectName().isEmpty()) {
        AboutUsForm->setObjectName(QStringLiteral("AboutUsForm"));
    }
    AboutUsForm->resize(400, 194);
    picApp = new QGraphicsView(AboutUsForm);
    picApp->setObjectName(QStringLiteral("picApp"));
    picApp->setGeometry(QRect(20, 40, 64, 64));
    picApp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    picApp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lbTitle = new QLabel(AboutUsForm);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    lbTitle->setGeometry(QRect(20, 10, 121, 16));
    lbProduct = new QLabel(AboutUsForm);
    lbProduct->setObjectName(QStringLiteral("lbProduct"));
    lbProduct->setGeometry(QRect(100, 48, 281, 31));
    lbProduct->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    lbProduct->setWordWrap(true);
    btnOK = new QPushButton(AboutUsForm);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(QRect(160, 160, 75, 23));
    lbHomePage = new QLabel(AboutUsForm);
    lbHomePage->setObjectName(QStringLiteral("lbHomePage"));
    lbHomePage->setGeometry(QRect(20, 120, 201, 16));
    lbHomePage->setOpenExternalLinks(true);

    retranslateUi(AboutUsForm);
    QObject::connect(btnOK, SIGNAL(pressed()), AboutUsForm, SLOT(accept()));
    QMetaObject::connectSlotsByName(AboutUsForm);
}

void Ui_AboutUsForm::retranslateUi(QDialog* AboutUsForm) {
    AboutUsForm->setWindowTitle(QCoreApplication::translate("AboutUsForm", "About"));
    lbTitle->setText(QCoreApplication::translate("AboutUsForm", "About"));
    lbProduct->setText(QString());
    btnOK->setText(QCoreApplication::translate("AboutUsForm", "OK"));
    lbHomePage->setText(QString());
}

AboutUsForm::AboutUsForm(QWidget* parent)
    : QDialog(parent), movable(this), form(new Ui_AboutUsForm) {
    form->setupUi(this);
    applyDialogLook(this);

    form->lbProduct->setText(
        QStringLiteral("%1 v%2").arg(g_productTitle(), QLatin1String(g_versionText)));

    auto* scene = new QGraphicsScene(this);
    const QPixmap icon(QStringLiteral(":/main_icon"));
    if (!icon.isNull()) {
        scene->addPixmap(icon.scaledToHeight(64, Qt::FastTransformation));
    }
    form->picApp->setStyleSheet(QStringLiteral("background:Transparent;border:0;"));
    form->picApp->setScene(scene);

    const QString home = g_homePageUrl();
    form->lbHomePage->setText(
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(home.toHtmlEscaped(), QStringLiteral("www.tellwick.example")));
}

AboutUsForm::~AboutUsForm() {
    delete form;
}
