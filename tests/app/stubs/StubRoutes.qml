import QtQml.Models

// The route list model's rows and verbs; the verbs record their calls.
ListModel {
    property bool active: false
    property var selects: []
    property var volumes: []

    function select(name, on) { selects = selects.concat([[name, on]]) }
    function setVolume(name, volume) { volumes = volumes.concat([[name, volume]]) }

    ListElement { name: "Este ordenador"; stateText: ""; selected: true; choosable: true; volume: 1.0; local: true; symbol: "laptopcomputer"; passwordKnown: false }
    ListElement { name: "Cocina"; stateText: ""; selected: false; choosable: true; volume: 0.5; local: false; symbol: "homepodmini.fill"; passwordKnown: false }
    ListElement { name: "Dormitorio"; stateText: "Requiere contraseña"; selected: false; choosable: false; volume: 1.0; local: false; symbol: "homepod.fill"; passwordKnown: false }
}
