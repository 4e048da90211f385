import QtQuick
import QtTest
import Brontide
import "../stubs"

// TestCase itself is never visible: the views live under this item.
Item {
    id: stage
    width: 400
    height: 600

    TestCase {
        name: "SpeakerList"
        when: windowShown

        Component {
            id: listComponent
            SpeakerList {
                width: 368
                browser: StubSpeakers {}
                colors: Brand.speakerColors
            }
        }

        function speakers(count) {
            return Array.from({ length: count },
                              (_, i) => ({ name: "Sala " + i, kind: "HomePod", symbol: "homepod.fill" }))
        }
        function rows(list) {
            return Array.from(findChild(list, "rows").children).filter(c => c.objectName === "speakerRow")
        }

        function test_searching_then_not_found() {
            const list = createTemporaryObject(listComponent, stage)
            list.browser.searching = true
            verify(findChild(list, "searching").visible)
            verify(!findChild(list, "notFound").visible)
            list.browser.searching = false
            verify(!findChild(list, "searching").visible)
            verify(findChild(list, "notFound").visible)
            verify(!findChild(list, "countLine").visible)
        }

        function test_scrolls_from_six_speakers() {
            for (const count of [5, 6]) {
                const list = createTemporaryObject(listComponent, stage)
                const area = findChild(list, "rowsArea")
                list.browser.speakers = speakers(count)
                const found = rows(list)
                compare(found.length, count)
                compare(area.interactive, count === 6)
                tryCompare(area, "height", count === 6 ? Brand.speakerScrollHeight : area.contentHeight)
                verify(findChild(list, "countLine").visible)
                verify(!findChild(list, "notFound").visible)
                // Tints go round: the fifth row has the first one's.
                compare(String(found[4].tint), String(found[0].tint))
            }
        }
    }
}
