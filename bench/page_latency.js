// How old the pictures a <video> shows are: camera-sim --stamp writes its
// clock (microseconds, low 40 bits) into the top row of every picture as 40
// blocks of 16x16; this reads it back as each picture is presented
// (requestVideoFrameCallback) and compares it with the page's clock.
// Evaluated as an expression: (video, count) => {n, p50, p95, min, max} in ms.
(async (video, count) => {
  const canvas = document.createElement("canvas");
  canvas.width = 640;
  canvas.height = 16;
  const context = canvas.getContext("2d", { willReadFrequently: true });
  const wrap = 2 ** 40;
  const samples = [];
  await new Promise((done) => {
    const step = () => {
      context.drawImage(video, 0, 0, 640, 16, 0, 0, 640, 16);
      const pixels = context.getImageData(0, 8, 640, 1).data;
      let stamp = 0;
      for (let bit = 0; bit < 40; ++bit) stamp = stamp * 2 + (pixels[(bit * 16 + 8) * 4] > 128 ? 1 : 0);
      const now = (performance.timeOrigin + performance.now()) * 1000;
      samples.push((((now % wrap) - stamp + wrap) % wrap) / 1000);
      if (samples.length >= count) done();
      else video.requestVideoFrameCallback(step);
    };
    video.requestVideoFrameCallback(step);
  });
  samples.sort((a, b) => a - b);
  const at = (p) => Math.round(samples[Math.floor(p * (samples.length - 1))] * 10) / 10;
  return { n: samples.length, p50: at(0.5), p95: at(0.95), min: at(0), max: at(1) };
})
