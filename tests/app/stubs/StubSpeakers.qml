import QtQml

// The speaker list model's properties with plain values.
QtObject {
    property var speakers: []
    property int count: speakers.length
    property string countText: count === 1 ? "1 altavoz disponible en tu red" : count + " altavoces disponibles en tu red"
    property bool searching: false
}
