import QtQuick.Controls 2.12
ToolButton { checkable: true; signal toggled() }
