// Small builders of page elements. Text is set as text, never as markup: a
// run's name is whatever its directory is called.

// A new element with properties and children.
export function element(tag, properties = {}, children = []) {
  const node = document.createElement(tag);
  Object.assign(node, properties);
  node.append(...children);
  return node;
}

// A legend's entry: a list item holding a check box (its data attributes
// `dataset`), a swatch of `color` and `text`; onChange(checked) after each
// change.
export function swatchItem({ checked, color, text, title = '', dataset = {}, onChange }) {
  const box = element('input', { type: 'checkbox', checked });
  Object.assign(box.dataset, dataset);
  box.addEventListener('change', () => onChange(box.checked));
  const swatch = element('span', { className: 'swatch' });
  swatch.style.background = color;
  return element('li', {}, [element('label', { title }, [box, swatch, ` ${text}`])]);
}
