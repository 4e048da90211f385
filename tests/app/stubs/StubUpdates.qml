import QtQml

QtObject {
    property bool canCheck: false
    property int checks: 0
    function checkForUpdates() { checks += 1 }
}
