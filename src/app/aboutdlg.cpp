#include "app/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "app/appresources.h"
#include "platform/desktop/dialogunits.h"

using namespace Qt::StringLiterals;

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
    setObjectName(QString::number(IDD_ABOUTBOX));
    setWindowTitle(u"About Tarnwick"_s);
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits units(font());
    setFixedSize(units.ToPixels(0, 0, 235, 55).size());

    auto* pIcon = new QLabel(this);
    const QRect rcIcon = units.ToPixels(11, 17, 20, 20);
    pIcon->setGeometry(rcIcon);
    pIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int nIconSize = std::min(rcIcon.width(), rcIcon.height());
    pIcon->setPixmap(LoadApplicationIcon().pixmap(nIconSize, nIconSize));
    pIcon->setAccessibleName(u"Tarnwick"_s);

    auto* pVersion = new QLabel(u"Tarnwick Version 2.3"_s, this);
    pVersion->setTextFormat(Qt::PlainText);
    pVersion->setGeometry(units.ToPixels(40, 10, 134, 8));

    auto* pMaker = new QLabel(u"Copyright (C) Quellbrook"_s, this);
    pMaker->setTextFormat(Qt::PlainText);
    pMaker->setGeometry(units.ToPixels(40, 25, 188, 8));

    auto* pOk = new QPushButton(u"OK"_s, this);
    pOk->setObjectName(u"1"_s);
    pOk->setGeometry(units.ToPixels(178, 6, 50, 14));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

    setWindowIcon(LoadApplicationIcon());
}
