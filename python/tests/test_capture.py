import vantrel


def capture_feature(road, reader):
    if road == "synthetic":
        return reader.feature()
    return vantrel.extract(reader.image(as_array=False))


def test_enrol_then_verify_the_finger_and_refuse_another(fingers):
    road, feed = fingers
    reader = vantrel.Reader(0 if road == "synthetic" else 3)
    feed(1, [1, 2, 3])
    if road == "synthetic":
        template = reader.template()
    else:
        template = vantrel.enroll(reader.image(), reader.image(), reader.image())
    feed(1, [4])
    same = capture_feature(road, reader)
    assert vantrel.match(template, same, level=5)
    if road != "synthetic":  # the synthetic finger is chosen when the library loads
        feed(2, [1])
        assert not vantrel.match(template, capture_feature(road, reader), level=5)
