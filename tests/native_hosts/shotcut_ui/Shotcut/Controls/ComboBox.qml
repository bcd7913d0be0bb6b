import QtQuick.Controls 2.12
ComboBox { }
