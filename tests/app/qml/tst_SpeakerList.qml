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
            let list = []
            for (let i = 0; i < count; ++i)
                list.push({ name: "Sala " + i, kind: "HomePod", symbol: "homepod.fill" })
            return list
        }

        function rows(list) {
            const column = findChild(list, "rows")
            let found = []
            for (let i = 0; i < column.children.length; ++i) {
                if (column.children[i].objectName === "speakerRow")
                    found.push(column.children[i])
            }
            return found
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

        function test_scrolls_from_six_speakers_data() {
            return [
                { tag: "five", count: 5, scrolls: false },
                { tag: "six", count: 6, scrolls: true },
                { tag: "nine", count: 9, scrolls: true }
            ]
        }

        function test_scrolls_from_six_speakers(data) {
            const list = createTemporaryObject(listComponent, stage)
            list.browser.speakers = speakers(data.count)
            const area = findChild(list, "rowsArea")
            compare(rows(list).length, data.count)
            compare(area.interactive, data.scrolls)
            if (data.scrolls)
                tryCompare(area, "height", Brand.speakerScrollHeight)
            else
                tryCompare(area, "height", area.contentHeight)
            verify(findChild(list, "countLine").visible)
            verify(!findChild(list, "notFound").visible)
        }

        function test_row_colours_wrap_at_the_fifth() {
            const list = createTemporaryObject(listComponent, stage)
            list.browser.speakers = speakers(5)
            const found = rows(list)
            compare(String(found[0].tint), String(Brand.coral))
            compare(String(found[1].tint), String(Brand.amber))
            compare(String(found[2].tint), String(Brand.mint))
            compare(String(found[3].tint), String(Brand.violet))
            compare(String(found[4].tint), String(Brand.coral))
        }
    }
}
