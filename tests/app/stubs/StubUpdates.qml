import QtQml

QtObject {
    property bool canCheck: false
    function checkForUpdates() {}
}
