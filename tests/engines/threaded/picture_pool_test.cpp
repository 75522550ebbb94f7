#include "engines/picture_pool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(PictureBufferPool, PicturesOwnTheirPixelsAndStorageIsReused) {
    PictureBufferPool pool(2);
    std::vector<uint8_t> work(8 * 4 * 4);
    for (size_t i = 0; i < work.size(); ++i)
        work[i] = static_cast<uint8_t>(i);

    VideoImageRef a = pool.makePicture(work.data(), 8, 4);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->width(), 8);
    EXPECT_EQ(a->height(), 4);
    EXPECT_EQ(a->bytesPerRow(), 32);
    ASSERT_EQ(a->byteCount(), work.size());
    // The next frame overwrites the working buffer; the delivered picture keeps its pixels.
    std::vector<uint8_t> expected = work;
    std::fill(work.begin(), work.end(), 0xEE);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), a->pixels()));

    VideoImageRef b = pool.makePicture(work.data(), 8, 4);
    EXPECT_NE(a->pixels(), b->pixels());
    EXPECT_EQ(pool.freeCount(), 0u);
    const uint8_t *storageOfA = a->pixels();
    a.reset();
    EXPECT_EQ(pool.freeCount(), 1u);
    VideoImageRef half = pool.makePicture(work.data(), 4, 4); // would hold twice its size: not reused
    EXPECT_NE(half->pixels(), storageOfA);
    EXPECT_EQ(pool.freeCount(), 1u);
    VideoImageRef c = pool.makePicture(work.data(), 7, 4); // a little smaller: reuses the released storage
    EXPECT_EQ(c->pixels(), storageOfA);
    EXPECT_EQ(pool.freeCount(), 0u);

    // The pool keeps no more than it was told to.
    std::vector<VideoImageRef> many;
    for (int i = 0; i < 5; ++i)
        many.push_back(pool.makePicture(work.data(), 8, 4));
    many.clear();
    EXPECT_EQ(pool.freeCount(), 2u);

    EXPECT_FALSE(pool.makePicture(work.data(), 0, 4));
    EXPECT_FALSE(pool.makePicture(work.data(), 8, -1));
    EXPECT_FALSE(pool.makePicture(nullptr, 8, 4));
}

TEST(PictureBufferPool, PicturesOfTheWorkBuffersSizeTakeItOverOthersAreCopied) {
    PictureBufferPool pool(2);
    std::vector<uint8_t> work = pool.takeStorage(16 * 16 * 4);
    ASSERT_EQ(work.size(), 1024u);
    work[0] = 42;
    const uint8_t *buffer = work.data();
    VideoImageRef small = pool.pictureFromWorkBuffer(work, 16, 15); // smaller: copied
    EXPECT_NE(small->pixels(), buffer);
    EXPECT_EQ(small->pixels()[0], 42);
    ASSERT_EQ(work.data(), buffer);
    EXPECT_FALSE(pool.pictureFromWorkBuffer(work, 16, 17)) << "larger than what was decoded";
    VideoImageRef whole = pool.pictureFromWorkBuffer(work, 16, 16); // its size: taken over
    EXPECT_EQ(whole->pixels(), buffer);
    EXPECT_TRUE(work.empty());
    EXPECT_FALSE(pool.pictureFromWorkBuffer(work, 1, 1)) << "nothing left to read from";
    whole.reset();
    EXPECT_EQ(pool.takeStorage(1000).data(), buffer) << "released, then handed out again";

    // Storage given back is handed out again for a close size only.
    std::vector<uint8_t> spare(4000);
    const uint8_t *spareData = spare.data();
    pool.giveBack(std::move(spare));
    EXPECT_NE(pool.takeStorage(1000).data(), spareData);
    EXPECT_EQ(pool.takeStorage(3500).data(), spareData);
}

TEST(PictureBufferPool, PicturesOutliveThePoolAndMayBeReleasedOnAnyThread) {
    std::vector<uint8_t> work(16 * 16 * 4, 7);
    std::vector<VideoImageRef> kept;
    {
        PictureBufferPool pool;
        std::vector<std::thread> threads;
        std::vector<VideoImageRef> made;
        for (int i = 0; i < 32; ++i)
            made.push_back(pool.makePicture(work.data(), 16, 16));
        for (int t = 0; t < 4; ++t) {
            std::vector<VideoImageRef> mine(made.begin() + t * 8, made.begin() + t * 8 + 8);
            threads.emplace_back([mine = std::move(mine), &pool, &work]() mutable {
                for (auto &p : mine) {
                    p.reset();
                    VideoImageRef again = pool.makePicture(work.data(), 16, 16);
                    ASSERT_TRUE(again);
                }
            });
        }
        made.clear();
        for (auto &t : threads)
            t.join();
        kept.push_back(pool.makePicture(work.data(), 16, 16));
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->pixels()[100], 7);
    kept.clear();
}
